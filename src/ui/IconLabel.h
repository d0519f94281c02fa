#pragma once

#include <QWidget>

class QLabel;

namespace vellorin {

// An icon followed by its text, the text in the given font and colour.
class IconLabel : public QWidget {
  public:
    IconLabel(const QString& symbolName, const QString& text, const QFont& font, const QColor& color,
              QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;
    void setWordWrap(bool on);

  private:
    QLabel* icon_;
    QLabel* text_;
};

} // namespace vellorin
