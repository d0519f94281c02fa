#pragma once

#include "ui/PanelSurface.h"

#include <memory>

class QPlainTextEdit;
class QVariantAnimation;

namespace vellorin {

class RecoveryViewModel;

// The activity log, following its end. New lines are appended to what is shown; only a
// log replaced as a whole (emptied at a start) is set again in full.
class LogPanel : public PanelSurface {
  public:
    explicit LogPanel(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent = nullptr);

    QPlainTextEdit* textView() const { return text_; }
    // Shows the beginning of the log, as a freshly opened panel does.
    void showFromTop();
    // Brings out any lines still waiting to be drawn (tests, benchmarks).
    void flushPending();
    bool isScrollAnimating() const;
    // Every line of the log is in the text shown (none waits for a later turn).
    bool isCaughtUp() const { return pending_.isEmpty(); }

  private:
    void lineAppended(const QString& line);
    void logChanged();
    void scheduleFlush();
    void flushSlice();
    void append(QStringView text);
    void replaceText(const QString& text);
    void scrollToEnd();

    std::shared_ptr<RecoveryViewModel> viewModel_;
    QPlainTextEdit* text_;
    QVariantAnimation* scroll_;
    QString pending_;
    bool lineArrived_ = false;
    bool flushScheduled_ = false;
    int scrollFrom_ = 0;
    static constexpr int kLinesPerBlock = 32;
    int linesInLastBlock_ = 0;
};

} // namespace vellorin
