#pragma once

#include <QWidget>

class QLabel;

namespace vellorin {

class IconLabel;

// The two-line face of a step button: icon and title, and a caption under them.
class StepButtonLabel : public QWidget {
  public:
    StepButtonLabel(const QString& title, const QString& symbolName, const QString& subtitle,
                    const QColor& titleColor, const QColor& subtitleColor, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    void setSubtitle(const QString& subtitle);
    QString title() const;
    QString subtitle() const;

  private:
    IconLabel* title_;
    QLabel* subtitle_;
    QString subtitleText_;
};

} // namespace vellorin
