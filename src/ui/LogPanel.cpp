#include "ui/LogPanel.h"

#include "ui/Theme.h"
#include "workflow/ViewController.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace vellorin {

LogPanel::LogPanel(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent)
    : PanelSurface(0.9, 12, parent), viewModel_(std::move(viewModel)), text_(new QPlainTextEdit(this)),
      scroll_(new QVariantAnimation(this)) {
    auto* layout = new QVBoxLayout(this);
    // Keeps the scroll bar clear of the rounded corners.
    layout->setContentsMargins(1, 6, 3, 6);
    text_->setObjectName(QStringLiteral("logBottom"));
    text_->setReadOnly(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setTabChangesFocus(true);
    text_->setUndoRedoEnabled(false);
    text_->setFrameShape(QFrame::NoFrame);
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text_->setFont(theme::footnoteMonospaced());
    text_->setPlaceholderText(QStringLiteral("Logs will appear here when recovery starts."));
    text_->document()->setDocumentMargin(10);
    QPalette p = text_->palette();
    p.setColor(QPalette::Base, Qt::transparent);
    text_->setPalette(p);
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

    text_->setPlainText(viewModel_->logText());
    RecoveryViewModel* model = viewModel_.get();
    connect(model, &RecoveryViewModel::logLineAppended, this, &LogPanel::lineAppended);
    connect(model, &RecoveryViewModel::logTextChanged, this, &LogPanel::logChanged);
}

void LogPanel::lineAppended(const QString& line) {
    pending_ += line;
    lineArrived_ = true;
}

void LogPanel::logChanged() {
    if (lineArrived_) {
        lineArrived_ = false;
        // Lines come in bursts of thousands; one insertion per turn of the event loop
        // keeps the cost per line small without ever showing a stale log for long.
        if (!flushScheduled_) {
            flushScheduled_ = true;
            QTimer::singleShot(0, this, &LogPanel::flushPending);
        }
    } else {
        pending_.clear();
        text_->setPlainText(viewModel_->logText());
    }
    scrollToEnd();
}

void LogPanel::flushPending() {
    flushScheduled_ = false;
    if (pending_.isEmpty())
        return;
    QTextCursor cursor(text_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(pending_);
    pending_.clear();
}

void LogPanel::scrollToEnd() {
    QScrollBar* bar = text_->verticalScrollBar();
    if (scroll_->state() == QAbstractAnimation::Running)
        return; // the running animation already heads for the (moving) end
    scrollFrom_ = bar->value();
    scroll_->start();
}

void LogPanel::showFromTop() {
    flushPending();
    scroll_->stop();
    text_->verticalScrollBar()->setValue(0);
}

bool LogPanel::isScrollAnimating() const {
    return scroll_->state() == QAbstractAnimation::Running;
}

} // namespace vellorin
