#include "ui/LogPanel.h"

#include "ui/LogView.h"
#include "ui/Theme.h"
#include "workflow/ViewController.h"

#include <QScrollBar>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace vellorin {

LogPanel::LogPanel(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent)
    : PanelSurface(0.9, 12, parent), viewModel_(std::move(viewModel)),
      text_(new LogView([model = viewModel_.get()]() -> const QString& { return model->logText(); }, this)),
      scroll_(new QVariantAnimation(this)) {
    auto* layout = new QVBoxLayout(this);
    // Keeps the scroll bar clear of the rounded corners.
    layout->setContentsMargins(1, 6, 3, 6);
    text_->setObjectName(QStringLiteral("logBottom"));
    text_->setFrameShape(QFrame::NoFrame);
    text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text_->setFont(theme::footnoteMonospaced());
    text_->setPlaceholderText(QStringLiteral("Logs will appear here when recovery starts."));
    text_->viewport()->setAutoFillBackground(false);
    text_->setAccessibleName(QStringLiteral("Activity log"));
    layout->addWidget(text_);
    setMinimumHeight(240);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);

    scroll_->setDuration(250);
    scroll_->setEasingCurve(QEasingCurve::OutCubic);
    scroll_->setStartValue(0.0);
    scroll_->setEndValue(1.0);
    // The end is read at every frame: lines that arrive during the animation move it on.
    connect(scroll_, &QVariantAnimation::valueChanged, this, [this](const QVariant& progress) {
        QScrollBar* bar = text_->verticalScrollBar();
        const qreal t = progress.toReal();
        bar->setValue(scrollFrom_ + qRound((bar->maximum() - scrollFrom_) * t));
    });

    RecoveryViewModel* model = viewModel_.get();
    connect(model, &RecoveryViewModel::logLineAppended, this, &LogPanel::lineAppended);
    connect(model, &RecoveryViewModel::logTextChanged, this, &LogPanel::logChanged);
    connect(text_, &LogView::linesIndexed, this, &LogPanel::linesIndexed);
}

void LogPanel::lineAppended() {
    lineArrived_ = true;
}

void LogPanel::logChanged() {
    if (lineArrived_) {
        lineArrived_ = false;
        text_->textAppended();
    } else {
        text_->textReset();
    }
    followEnd_ = true;
    scrollToEnd();
}

void LogPanel::linesIndexed() {
    // Lines read after the last change of the log, once its scroll has ended, must still come
    // into view: a flood is read for longer than one scroll lasts.
    if (followEnd_)
        scrollToEnd();
}

bool LogPanel::isCaughtUp() const {
    return text_->isIndexed();
}

void LogPanel::flushPending() {
    text_->indexAll();
}

void LogPanel::scrollToEnd() {
    QScrollBar* bar = text_->verticalScrollBar();
    if (scroll_->state() == QAbstractAnimation::Running)
        return; // the running animation already heads for the (moving) end
    if (bar->value() == bar->maximum())
        return;
    scrollFrom_ = bar->value();
    scroll_->start();
}

void LogPanel::showFromTop() {
    followEnd_ = false;
    scroll_->stop();
    text_->verticalScrollBar()->setValue(0);
}

bool LogPanel::isScrollAnimating() const {
    return scroll_->state() == QAbstractAnimation::Running;
}

} // namespace vellorin
