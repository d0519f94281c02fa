#pragma once

#include <QWidget>

namespace vellorin {

// One line of text, cut at its end with an ellipsis when it does not fit. Unlike a plain
// label it never asks for the width of its whole text, so a long path cannot widen the window.
class ElidedLabel : public QWidget {
  public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString text_;
};

} // namespace vellorin
