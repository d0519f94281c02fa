#include "ui/LogPanel.h"

#include "platform/Queues.h"
#include "ui/Theme.h"
#include "workflow/ViewController.h"

#include <QCoreApplication>

#include <QElapsedTimer>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
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

    replaceDocument();
    RecoveryViewModel* model = viewModel_.get();
    connect(model, &RecoveryViewModel::logLineAppended, this, &LogPanel::lineAppended);
    connect(model, &RecoveryViewModel::logTextChanged, this, &LogPanel::logChanged);
    flushPending();
}

void LogPanel::lineAppended() {
    lineArrived_ = true;
}

void LogPanel::logChanged() {
    if (lineArrived_)
        lineArrived_ = false;
    else
        replaceDocument();
    followEnd_ = true;
    scheduleFlush();
    scrollToEnd();
}

bool LogPanel::isCaughtUp() const {
    return !isVisible() || drawn_ == viewModel_->logText().size();
}

void LogPanel::showEvent(QShowEvent* event) {
    PanelSurface::showEvent(event);
    scheduleFlush();
}

void LogPanel::scheduleFlush() {
    // Lines come in bursts of thousands; one insertion per turn of the event loop keeps the
    // cost per line small without ever showing a stale log for long. A hidden panel draws
    // nothing: a million lines nobody looks at would take the main thread for seconds.
    if (!flushScheduled_ && isVisible() && !isCaughtUp()) {
        flushScheduled_ = true;
        QTimer::singleShot(0, this, [this] { flushSlice(); });
    }
}

void LogPanel::flushSlice() {
    flushScheduled_ = false;
    if (!isVisible())
        return;
    // A flood of lines is drawn in slices, each within a few milliseconds, so that painting
    // and input keep their turns however fast the lines come; the rest waits for the next
    // turn. Each insertion lays out the end of the document again, so a chunk is large
    // enough to make that cost small per line, and small enough to stay within the budget
    // (24 KiB chunks took up to 40 ms each while the machine was busy).
    constexpr qint64 kSliceBudgetNs = 3'000'000;
    constexpr qsizetype kChunk = 8 * 1024;
    const QString& log = viewModel_->logText();
    QElapsedTimer clock;
    clock.start();
    while (drawn_ < log.size() && clock.nsecsElapsed() < kSliceBudgetNs) {
        qsizetype end = std::min(log.size(), drawn_ + kChunk);
        // Whole lines only, so that a line is never shown half-written.
        if (end < log.size()) {
            const qsizetype newline = log.lastIndexOf(QLatin1Char('\n'), end - 1);
            end = newline >= drawn_ ? newline + 1 : log.indexOf(QLatin1Char('\n'), end) + 1;
            if (end <= 0)
                end = log.size();
        }
        append(QStringView(log).mid(drawn_, end - drawn_));
        drawn_ = end;
    }
    // Lines drawn after the last change of the log, once its scroll has ended, must still
    // come into view: a flood is drawn for longer than one scroll lasts.
    if (followEnd_)
        scrollToEnd();
    scheduleFlush();
}

void LogPanel::flushPending() {
    const QString& log = viewModel_->logText();
    if (drawn_ < log.size())
        append(QStringView(log).mid(drawn_));
    drawn_ = log.size();
}

void LogPanel::append(QStringView text) {
    // A text block per line would make a long log slow to empty, to re-wrap at a new width and
    // to grow. Lines are kept in paragraphs of kLinesPerBlock, separated inside a paragraph by
    // line separators, which draw and copy exactly as line breaks do.
    QString chunk = text.toString();
    for (QChar& c : chunk) {
        if (c != QLatin1Char('\n'))
            continue;
        if (++linesInLastBlock_ < kLinesPerBlock) {
            c = QChar::LineSeparator;
        } else {
            linesInLastBlock_ = 0;
        }
    }
    QTextCursor cursor(text_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(chunk);
}

void LogPanel::replaceDocument() {
    // Emptying a document of many blocks takes long, and so does deleting one: the new
    // document is empty, and the old one goes in a turn of its own, after the start of the
    // run that replaced the log has been drawn.
    const QPointer<QTextDocument> old = text_->document();
    auto* document = new QTextDocument(text_);
    document->setDocumentLayout(new QPlainTextDocumentLayout(document));
    document->setDefaultFont(old->defaultFont());
    document->setDocumentMargin(old->documentMargin());
    document->setUndoRedoEnabled(false);
    text_->setDocument(document);
    if (old) {
        // Deleting a document of a million lines takes the main thread for some 60 ms. Once no
        // editor shows it, nothing here touches it again: it is handed, with no thread of its
        // own, to the background pool and deleted there.
        old->setParent(nullptr);
        QCoreApplication::removePostedEvents(old);
        old->moveToThread(nullptr);
        viewModel_->platform().queues->background([doomed = old.data()] { delete doomed; });
    }
    drawn_ = 0;
    linesInLastBlock_ = 0;
}

void LogPanel::scrollToEnd() {
    QScrollBar* bar = text_->verticalScrollBar();
    if (scroll_->state() == QAbstractAnimation::Running)
        return; // the running animation already heads for the (moving) end
    scrollFrom_ = bar->value();
    scroll_->start();
}

void LogPanel::showFromTop() {
    followEnd_ = false;
    scroll_->stop();
    text_->verticalScrollBar()->setValue(0);
    scheduleFlush();
}

bool LogPanel::isScrollAnimating() const {
    return scroll_->state() == QAbstractAnimation::Running;
}

} // namespace vellorin
