#pragma once

#include <QBasicTimer>
#include <QWidget>

namespace vellorin {

// A small indeterminate progress indicator: a ring of ticks turning while it is shown.
class ProgressSpinner : public QWidget {
  public:
    explicit ProgressSpinner(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {16, 16}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QBasicTimer timer_;
    int step_ = 0;
};

} // namespace vellorin
