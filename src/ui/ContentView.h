#pragma once

#include "platform/Platform.h"

#include "ui/Backdrop.h"
#include "ui/PaintCache.h"
#include "ui/QuickStartSheet.h"

#include <QPointer>
#include <QWidget>

#include <memory>

namespace vellorin {

class HeaderSection;
class LogPanel;

class RecoveredFilesPanel;
class RecoveryViewModel;
class ResultsSorting;
class StatusCard;
class StatusLine;
class StepsPanel;

// The window's root view: the gradient, and over it a column of at most 900 wide,
// centred, with the header, the three cards, the steps, the status line and the log or
// the recovered files. It owns the one view model for as long as it lives.
class ContentView : public QWidget, public Backdrop {
  public:
    static constexpr int kMaximumColumnWidth = 900;

    explicit ContentView(Platform platform, QWidget* parent = nullptr);
    ~ContentView() override;

    const std::shared_ptr<RecoveryViewModel>& viewModel() const { return viewModel_; }
    const std::shared_ptr<ResultsSorting>& sorting() const { return sorting_; }
    bool showLog() const { return showLog_; }
    void setShowLog(bool on);

    QWidget* column() const { return column_; }
    HeaderSection* header() const { return header_; }
    StatusCard* sourceCard() const { return sourceCard_; }
    StatusCard* recoveredCard() const { return recoveredCard_; }
    StatusCard* scannedCard() const { return scannedCard_; }
    StepsPanel* stepsPanel() const { return steps_; }
    StatusLine* statusLine() const { return statusLine_; }
    LogPanel* logPanel() const { return logPanel_; }
    RecoveredFilesPanel* recoveredFilesPanel() const { return filesPanel_; }
    // The quick-start sheet while it is shown, else null.
    QuickStartSheet* quickStartSheet() const { return sheet_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    void paintBelow(QPainter& painter, const QWidget& widget) const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    PaintCache backdrop_;
    void paintBackdrop(QPainter& painter, const QRect& area) const;
    void layoutColumn();
    void refreshCards();
    void presentOnboardingIfNeeded();
    void markOnboardingSeen();

    std::shared_ptr<Settings> settings_;
    std::shared_ptr<RecoveryViewModel> viewModel_;
    std::shared_ptr<ResultsSorting> sorting_;
    bool showLog_ = false;
    bool showOnboarding_ = false;
    QWidget* column_;
    HeaderSection* header_;
    StatusCard* sourceCard_;
    StatusCard* recoveredCard_;
    StatusCard* scannedCard_;
    StepsPanel* steps_;
    StatusLine* statusLine_;
    LogPanel* logPanel_;
    RecoveredFilesPanel* filesPanel_;
    QPointer<QuickStartSheet> sheet_;
};

} // namespace vellorin
