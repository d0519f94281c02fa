#pragma once

#include "ui/PanelSurface.h"

#include <memory>

class QPlainTextEdit;
class QVariantAnimation;

namespace vellorin {

class RecoveryViewModel;

// The activity log, following its end. New lines are appended to what is shown, in slices
// bounded in time; only a log replaced as a whole (emptied at a start) is set again. The
// text is read from the view model's log: the panel keeps only how much of it it has drawn.
class LogPanel : public PanelSurface {
  public:
    explicit LogPanel(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent = nullptr);

    QPlainTextEdit* textView() const { return text_; }
    // Shows the beginning of the log, as a freshly opened panel does.
    void showFromTop();
    // Brings out any lines still waiting to be drawn (tests, benchmarks).
    void flushPending();
    bool isScrollAnimating() const;
    // No line waits for a later turn: every line of the log is in the text shown, or the
    // panel is hidden (it draws nothing until it is shown again).
    bool isCaughtUp() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void lineAppended();
    void logChanged();
    void scheduleFlush();
    void flushSlice();
    void append(QStringView text);
    void replaceDocument();
    void scrollToEnd();

    std::shared_ptr<RecoveryViewModel> viewModel_;
    QPlainTextEdit* text_;
    QVariantAnimation* scroll_;
    // How much of the view model's log is in the document.
    qsizetype drawn_ = 0;
    bool lineArrived_ = false;
    bool flushScheduled_ = false;
    // The log changed since the panel was last opened at its top: what is drawn goes to the end.
    bool followEnd_ = false;
    int scrollFrom_ = 0;
    static constexpr int kLinesPerBlock = 32;
    int linesInLastBlock_ = 0;
};

} // namespace vellorin
