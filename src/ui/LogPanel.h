#pragma once

#include "ui/PanelSurface.h"

#include <memory>

class QVariantAnimation;

namespace vellorin {

class LogView;
class RecoveryViewModel;

// The activity log, following its end. The text is the view model's log itself, drawn a page
// at a time by the view; the panel tells the view whether the log grew or was replaced, and
// scrolls to the end at each change.
class LogPanel : public PanelSurface {
  public:
    explicit LogPanel(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent = nullptr);

    LogView* textView() const { return text_; }
    // Shows the beginning of the log, as a freshly opened panel does.
    void showFromTop();
    // Brings out any lines still waiting to be read (tests, benchmarks).
    void flushPending();
    bool isScrollAnimating() const;
    // No line waits for a later turn: every line of the log has its place in the view.
    bool isCaughtUp() const;

  private:
    void lineAppended();
    void logChanged();
    void linesIndexed();
    void scrollToEnd();

    std::shared_ptr<RecoveryViewModel> viewModel_;
    LogView* text_;
    QVariantAnimation* scroll_;
    bool lineArrived_ = false;
    // The log changed since the panel was last opened at its top: what is read goes to the end.
    bool followEnd_ = false;
    int scrollFrom_ = 0;
};

} // namespace vellorin
