#include "ui/ContentView.h"

#include "platform/Settings.h"
#include "ui/HeaderSection.h"
#include "ui/LogPanel.h"
#include "ui/QuickStartSheet.h"
#include "ui/RecoveredFilesPanel.h"
#include "ui/StatusCard.h"
#include "ui/StatusLine.h"
#include "ui/StepsPanel.h"
#include "ui/Theme.h"
#include "workflow/ResultsSorting.h"
#include "workflow/ViewController.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace vellorin {

ContentView::ContentView(Platform platform, QWidget* parent)
    : QWidget(parent), settings_(platform.settings),
      viewModel_(RecoveryViewModel::create(std::move(platform))),
      sorting_(ResultsSorting::create(viewModel_)) {
    setPalette(theme::darkPalette());
    setAutoFillBackground(false);
    // The backdrop covers every pixel: nothing below it needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);

    column_ = new QWidget(this);
    column_->setObjectName(QStringLiteral("contentColumn"));
    auto* layout = new QVBoxLayout(column_);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(18);

    // Created in layout order, which is also the keyboard's order through the controls.
    header_ = new HeaderSection(column_);
    layout->addWidget(header_);

    auto* cards = new QHBoxLayout;
    cards->setSpacing(12);
    sourceCard_ = new StatusCard(QStringLiteral("internaldrive"), QStringLiteral("Data Source"),
                                 theme::accent(), column_);
    recoveredCard_ = new StatusCard(QStringLiteral("checkmark.circle.fill"), QStringLiteral("Recovered"),
                                    theme::green(), column_);
    scannedCard_ = new StatusCard(QStringLiteral("magnifyingglass"), QStringLiteral("Scanned"),
                                  theme::accent(), column_);
    for (StatusCard* card : {sourceCard_, recoveredCard_, scannedCard_})
        cards->addWidget(card, 1);
    layout->addLayout(cards);

    steps_ = new StepsPanel(viewModel_, column_);
    layout->addWidget(steps_);
    statusLine_ = new StatusLine(viewModel_, sorting_, column_);
    layout->addWidget(statusLine_);

    // Both panels live as long as the view and follow the state while hidden, so that
    // switching to the log never has to lay out a long log from scratch.
    logPanel_ = new LogPanel(viewModel_, column_);
    filesPanel_ = new RecoveredFilesPanel(viewModel_, sorting_, column_);
    layout->addWidget(logPanel_, 1);
    layout->addWidget(filesPanel_, 1);
    layout->addStretch(0);
    logPanel_->hide();

    connect(steps_, &StepsPanel::showLogToggled, this, &ContentView::setShowLog);
    // No new run into a folder whose files are being moved.
    connect(sorting_.get(), &ResultsSorting::changed, steps_,
            [this] { steps_->setEnabled(!sorting_->isBusy()); });
    RecoveryViewModel* model = viewModel_.get();
    for (auto signal :
         {&RecoveryViewModel::selectedDrivePathChanged, &RecoveryViewModel::selectedSourceNameChanged,
          &RecoveryViewModel::recoveredCountChanged, &RecoveryViewModel::scannedCountChanged})
        connect(model, signal, this, &ContentView::refreshCards);
    refreshCards();
    column_->installEventFilter(this);
}

ContentView::~ContentView() {
    // The sheet goes away with the window: that is a dismissal as well.
    if (sheet_ && sheet_->isVisible())
        markOnboardingSeen();
}

void ContentView::setShowLog(bool on) {
    if (showLog_ == on)
        return;
    showLog_ = on;
    steps_->setShowLog(on);
    filesPanel_->setVisible(!on);
    logPanel_->setVisible(on);
    if (on)
        logPanel_->showFromTop();
}

void ContentView::refreshCards() {
    const auto& path = viewModel_->selectedDrivePath();
    sourceCard_->setValue(path ? *path : QStringLiteral("Not selected"));
    const QString detail = path ? viewModel_->selectedSourceName() : QString();
    if (detail != sourceCard_->detail()) {
        sourceCard_->setDetail(detail);
        // A card with a second line makes the row taller; the others keep level with it.
        int height = 0;
        for (StatusCard* card : {sourceCard_, recoveredCard_, scannedCard_}) {
            card->setMinimumHeight(0);
            height = std::max(height, card->sizeHint().height());
        }
        for (StatusCard* card : {sourceCard_, recoveredCard_, scannedCard_})
            card->setMinimumHeight(height);
    }
    recoveredCard_->setValue(QString::number(viewModel_->recoveredCount()));
    scannedCard_->setValue(QString::number(viewModel_->scannedCount()));
}

QSize ContentView::sizeHint() const {
    return {1100, 750};
}

QSize ContentView::minimumSizeHint() const {
    return column_->minimumSizeHint();
}

void ContentView::paintEvent(QPaintEvent* event) {
    backdrop_.paint(
        this, event, [this](QPainter& painter) { paintBackdrop(painter, rect()); },
        PaintCache::Surface::Opaque);
}

void ContentView::paintBackdrop(QPainter& painter, const QRect& area) const {
    QLinearGradient gradient(QPointF(0, 0), QPointF(width(), height()));
    gradient.setColorAt(0, QColor::fromRgbF(0.1f, 0.12f, 0.18f));
    gradient.setColorAt(1, QColor::fromRgbF(0.06f, 0.07f, 0.12f));
    painter.fillRect(area, gradient);
}

void ContentView::paintBelow(QPainter& painter, const QWidget& widget) const {
    const QPoint offset = widget.mapTo(this, QPoint());
    painter.save();
    painter.translate(-offset);
    paintBackdrop(painter, QRect(offset, widget.size()));
    painter.restore();
}

void ContentView::resizeEvent(QResizeEvent*) {
    layoutColumn();
}

void ContentView::layoutColumn() {
    const int width = std::min(this->width(), kMaximumColumnWidth);
    column_->setGeometry((this->width() - width) / 2, 0, width, height());
}

bool ContentView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == column_ && event->type() == QEvent::Show) {
        // After the window itself is on screen, so that the sheet has a window to sit on.
        QTimer::singleShot(0, this, &ContentView::presentOnboardingIfNeeded);
    }
    return QWidget::eventFilter(watched, event);
}

void ContentView::presentOnboardingIfNeeded() {
    if (showOnboarding_ || !settings_ || settings_->hasSeenOnboarding() || !isVisible())
        return;
    showOnboarding_ = true;
    sheet_ = new QuickStartSheet(settings_, window());
    connect(sheet_, &QuickStartSheet::dismissed, this, [this] {
        markOnboardingSeen();
        showOnboarding_ = false;
        if (sheet_)
            sheet_->deleteLater();
    });
    sheet_->open();
}

void ContentView::markOnboardingSeen() {
    settings_->setHasSeenOnboarding(true);
}

} // namespace vellorin
