#include "ui/LogView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace vellorin {

namespace {

// The text's distance from every edge of the view.
constexpr int kMargin = 10;
// Layouts kept beyond those in view, so that a small scroll does not lay out again. Few: while
// a flood of lines is scrolled through, the layouts that left the view are freed a handful
// per frame rather than hundreds in one, and in a busy process each free can wait for a
// worker's allocator.
constexpr std::size_t kKeptLayouts = 32;

int clampToInt(qsizetype value) {
    return int(std::clamp<qsizetype>(value, 0, INT_MAX));
}

// What a screen reader reads: the whole log as one read-only, multi-line text, with the
// caret, the selection and the text around an offset, by character, word or line. Lines are
// found through the view's index, never by reading the whole log, which may be long.
class LogViewAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
  public:
    explicit LogViewAccessible(LogView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        s.focusable = true;
        return s;
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return view()->toPlainText();
        return QAccessibleWidget::text(t);
    }

    void selection(int index, int* start, int* end) const override {
        const auto [from, to] = view()->selection();
        *start = *end = 0;
        if (index == 0 && from != to) {
            *start = clampToInt(from);
            *end = clampToInt(to);
        }
    }
    int selectionCount() const override {
        const auto [from, to] = view()->selection();
        return from != to ? 1 : 0;
    }
    void addSelection(int start, int end) override { view()->setSelection(start, end); }
    void removeSelection(int) override { view()->setCursorPosition(view()->cursorPosition()); }
    void setSelection(int, int start, int end) override { view()->setSelection(start, end); }
    int cursorPosition() const override { return clampToInt(view()->cursorPosition()); }
    void setCursorPosition(int position) override { view()->setCursorPosition(position); }

    QString text(int start, int end) const override {
        const QString& all = source();
        start = std::clamp(start, 0, characterCount());
        end = std::clamp(end, start, characterCount());
        return all.mid(start, end - start);
    }
    int characterCount() const override { return clampToInt(source().size()); }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                         int* end) const override {
        const int count = characterCount();
        *start = *end = -1;
        if (offset < 0 || offset > count)
            return {};
        if (boundary == QAccessible::NoBoundary) {
            *start = 0;
            *end = count;
            return source();
        }
        if (offset == count && offset > 0)
            --offset;
        const auto [lineStart, lineEnd] = view()->lineSpanAt(offset);
        if (boundary == QAccessible::CharBoundary || boundary == QAccessible::WordBoundary) {
            // Characters and words never reach past a line: the line alone is examined.
            if (offset >= lineEnd) { // the line feed itself
                *start = offset;
                *end = std::min(offset + 1, count);
                return text(*start, *end);
            }
            const auto [from, to] = view()->boundarySpanAt(offset, boundary == QAccessible::CharBoundary
                                                                       ? QTextBoundaryFinder::Grapheme
                                                                       : QTextBoundaryFinder::Word);
            *start = clampToInt(from);
            *end = clampToInt(to);
            return text(*start, *end);
        }
        // Lines, sentences and paragraphs: a log line is all three. The line feed belongs to
        // the line it ends.
        *start = clampToInt(lineStart);
        *end = std::min(clampToInt(lineEnd) + 1, count);
        return text(*start, *end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                             int* end) const override {
        int atStart = 0;
        int atEnd = 0;
        textAtOffset(offset, boundary, &atStart, &atEnd);
        if (atStart <= 0) {
            *start = *end = -1;
            return {};
        }
        return textAtOffset(atStart - 1, boundary, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                            int* end) const override {
        int atStart = 0;
        int atEnd = 0;
        textAtOffset(offset, boundary, &atStart, &atEnd);
        if (atEnd < 0 || atEnd >= characterCount()) {
            *start = *end = -1;
            return {};
        }
        return textAtOffset(atEnd, boundary, start, end);
    }

    QRect characterRect(int offset) const override {
        const QRect local = view()->characterRect(offset);
        if (local.isEmpty())
            return {};
        return QRect(view()->viewport()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint& point) const override {
        const QPoint local = view()->viewport()->mapFromGlobal(point);
        if (!view()->viewport()->rect().contains(local))
            return -1;
        return clampToInt(view()->offsetAt(local));
    }
    void scrollToSubstring(int start, int) override { view()->ensureOffsetVisible(start); }
    QString attributes(int offset, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        Q_UNUSED(offset);
        return {};
    }

  private:
    LogView* view() const { return static_cast<LogView*>(widget()); }
    // The source itself, not a copy: shared, so reading it costs nothing.
    QString source() const { return view()->toPlainText(); }
};

QAccessibleInterface* logViewAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("vellorin::LogView") && object && object->isWidgetType())
        return new LogViewAccessible(static_cast<LogView*>(object));
    return nullptr;
}

} // namespace

LogView::LogView(Source source, QWidget* parent) : QAbstractScrollArea(parent), source_(std::move(source)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(logViewAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);
    indexAll();
}

LogView::~LogView() = default;

void LogView::setPlaceholderText(const QString& text) {
    placeholder_ = text;
    viewport()->update();
}

void LogView::textAppended() {
    scheduleIndex();
}

void LogView::textReset() {
    lineStarts_.assign(1, 0);
    indexed_ = 0;
    forgetLayouts();
    anchor_ = caret_ = 0;
    selecting_ = false;
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent event(this, 0, QString(), QString());
        QAccessible::updateAccessibility(&event);
    }
    indexAll();
}

void LogView::scheduleIndex() {
    if (indexScheduled_ || isIndexed())
        return;
    indexScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        indexScheduled_ = false;
        // Lines come in bursts of thousands: they are read in slices of a few milliseconds,
        // so painting and input keep their turns however fast the lines come.
        indexSlice(2'000'000);
        scheduleIndex();
    });
}

void LogView::indexAll() {
    indexSlice(-1);
}

bool LogView::isIndexed() const {
    return indexed_ == source_().size();
}

void LogView::indexSlice(qint64 budgetNs) {
    const QString& text = source_();
    if (text.size() < indexed_) { // replaced without a word: read again from the start
        textReset();
        return;
    }
    if (indexed_ == text.size())
        return;
    const qsizetype from = indexed_;
    const qsizetype lastLine = lineCount() - 1;
    constexpr qsizetype kChunk = 64 * 1024;
    QElapsedTimer clock;
    clock.start();
    while (indexed_ < text.size() && (budgetNs < 0 || clock.nsecsElapsed() < budgetNs)) {
        const qsizetype end = std::min(text.size(), indexed_ + kChunk);
        const QStringView chunk = QStringView(text).mid(indexed_, end - indexed_);
        for (qsizetype at = chunk.indexOf(QLatin1Char('\n')); at >= 0;
             at = chunk.indexOf(QLatin1Char('\n'), at + 1))
            lineStarts_.push_back(indexed_ + at + 1);
        indexed_ = end;
    }
    // The line that was last grew: its layout is stale.
    layouts_.erase(lastLine);
    if (QAccessible::isActive()) {
        QAccessibleTextInsertEvent event(this, clampToInt(from), text.mid(from, indexed_ - from));
        QAccessible::updateAccessibility(&event);
    }
    updateRange();
    viewport()->update();
    emit linesIndexed();
}

std::pair<qsizetype, qsizetype> LogView::lineSpan(qsizetype line) const {
    const qsizetype start = lineStarts_[std::size_t(line)];
    const qsizetype end = line + 1 < lineCount() ? lineStarts_[std::size_t(line + 1)] - 1 : indexed_;
    return {start, end};
}

std::pair<qsizetype, qsizetype> LogView::lineSpanAt(qsizetype offset) const {
    return lineSpan(lineOf(offset));
}

qsizetype LogView::lineOf(qsizetype offset) const {
    const auto after = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), offset);
    return std::max<qsizetype>(0, (after - lineStarts_.begin()) - 1);
}

QString LogView::lineText(qsizetype line) const {
    if (line < 0 || line >= lineCount())
        return {};
    const auto [start, end] = lineSpan(line);
    return source_().mid(start, end - start);
}

int LogView::textWidth() const {
    return std::max(1, viewport()->width() - 2 * kMargin);
}

void LogView::forgetLayouts() {
    layouts_.clear();
    layoutWidth_ = textWidth();
}

QTextLayout* LogView::layoutOf(qsizetype line) {
    if (layoutWidth_ != textWidth())
        forgetLayouts();
    std::unique_ptr<QTextLayout>& slot = layouts_[line];
    if (!slot) {
        slot = std::make_unique<QTextLayout>(lineText(line), font(), viewport());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        slot->setTextOption(option);
        slot->setCacheEnabled(true);
        slot->beginLayout();
        qreal y = 0;
        for (QTextLine row = slot->createLine(); row.isValid(); row = slot->createLine()) {
            row.setLineWidth(layoutWidth_);
            row.setPosition(QPointF(0, y));
            y += row.height();
        }
        slot->endLayout();
    }
    return slot.get();
}

int LogView::heightOf(qsizetype line) {
    return std::max(1, qCeil(layoutOf(line)->boundingRect().height()));
}

std::pair<qsizetype, bool> LogView::firstLineFitting(qsizetype last) {
    const int room = viewport()->height() - 2 * kMargin;
    qsizetype first = last + 1;
    int used = 0;
    while (first > 0) {
        const int height = heightOf(first - 1);
        if (used + height > room)
            break;
        used += height;
        --first;
    }
    // A line taller than the view is shown from where it fits best: its end at the bottom.
    return {std::min(first, last), first <= last};
}

void LogView::updateRange() {
    const auto [first, fits] = firstLineFitting(lineCount() - 1);
    overflows_ = first > 0 || !fits;
    QScrollBar* bar = verticalScrollBar();
    const int lineHeight = std::max(1, fontMetrics().lineSpacing());
    bar->setPageStep(std::max(1, (viewport()->height() - 2 * kMargin) / lineHeight - 1));
    bar->setRange(0, clampToInt(first));
}

const std::vector<LogView::Placed>& LogView::place() {
    placed_.clear();
    const QScrollBar* bar = verticalScrollBar();
    const int height = viewport()->height();
    if (overflows_ && bar->value() >= bar->maximum()) {
        // At the end the last line rests on the bottom edge, however tall it is.
        int top = height - kMargin;
        for (qsizetype line = lineCount() - 1; line >= 0 && top > 0; --line) {
            top -= heightOf(line);
            placed_.push_back({line, top});
        }
        std::reverse(placed_.begin(), placed_.end());
    } else {
        int top = kMargin;
        for (qsizetype line = bar->value(); line < lineCount() && top < height; ++line) {
            placed_.push_back({line, top});
            top += heightOf(line);
        }
    }
    if (layouts_.size() > placed_.size() + kKeptLayouts) {
        std::unordered_map<qsizetype, std::unique_ptr<QTextLayout>> kept;
        for (const Placed& p : placed_)
            kept[p.line] = std::move(layouts_[p.line]);
        layouts_.swap(kept);
    }
    return placed_;
}

std::vector<qsizetype> LogView::linesInView() {
    std::vector<qsizetype> lines;
    for (const Placed& p : place())
        if (p.top + heightOf(p.line) > 0 && p.top < viewport()->height())
            lines.push_back(p.line);
    return lines;
}

QRect LogView::lineRect(qsizetype line) {
    for (const Placed& p : place())
        if (p.line == line)
            return QRect(kMargin, p.top, textWidth(), heightOf(line)).intersected(viewport()->rect());
    return {};
}

void LogView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setClipRect(event->rect());
    if (source_().isEmpty()) {
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(viewport()->rect().adjusted(kMargin, kMargin, -kMargin, -kMargin),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, placeholder_);
        return;
    }
    painter.setPen(palette().color(QPalette::Text));
    const auto [from, to] = selection();
    for (const Placed& p : place()) {
        QTextLayout* layout = layoutOf(p.line);
        const auto [start, end] = lineSpan(p.line);
        QList<QTextLayout::FormatRange> selected;
        if (from < to && from <= end && to > start) { // the part of the selection on this line
            QTextLayout::FormatRange range;
            range.start = int(std::max(from, start) - start);
            range.length = int(std::min(to, end) - start) - range.start;
            range.format.setBackground(palette().brush(QPalette::Highlight));
            range.format.setForeground(palette().brush(QPalette::HighlightedText));
            selected.append(range);
        }
        const QPointF origin(kMargin, p.top);
        layout->draw(&painter, origin, selected);
        if (hasFocus() && caret_ >= start && caret_ <= end)
            layout->drawCursor(&painter, origin, int(caret_ - start), 1);
    }
}

void LogView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const bool atEnd = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
    updateRange();
    if (atEnd)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::scrollContentsBy(int, int) {
    viewport()->update();
}

void LogView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        forgetLayouts();
        updateRange();
        viewport()->update();
    }
}

qsizetype LogView::offsetAt(QPoint point) {
    const std::vector<Placed>& placed = place();
    if (placed.empty())
        return 0;
    const Placed* hit = &placed.back();
    for (const Placed& p : placed) {
        if (point.y() < p.top + heightOf(p.line)) {
            hit = &p;
            break;
        }
    }
    const qsizetype start = lineSpan(hit->line).first;
    QTextLayout* layout = layoutOf(hit->line);
    const qreal y = point.y() - hit->top;
    if (y < 0)
        return start;
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine row = layout->lineAt(i);
        if (y < row.y() + row.height() || i + 1 == layout->lineCount())
            return start + row.xToCursor(point.x() - kMargin);
    }
    return start;
}

QRect LogView::characterRect(qsizetype offset) {
    if (offset < 0 || offset > indexed_)
        return {};
    const qsizetype line = lineOf(offset);
    for (const Placed& p : place()) {
        if (p.line != line)
            continue;
        QTextLayout* layout = layoutOf(line);
        const int local = int(offset - lineSpan(line).first);
        const QTextLine row = layout->lineForTextPosition(local);
        if (!row.isValid())
            return {};
        const qreal x = row.cursorToX(local);
        const qreal next =
            local < layout->text().size() ? row.cursorToX(local + 1) : x + fontMetrics().averageCharWidth();
        const QRectF box(kMargin + x, p.top + row.y(), std::max<qreal>(1, next - x), row.height());
        return box.toAlignedRect().intersected(viewport()->rect());
    }
    return {};
}

void LogView::ensureOffsetVisible(qsizetype offset) {
    const qsizetype line = lineOf(offset);
    QScrollBar* bar = verticalScrollBar();
    const QRect rect = lineRect(line);
    if (!rect.isEmpty() && rect.top() >= 0 && rect.bottom() < viewport()->height())
        return;
    if (line <= bar->value())
        bar->setValue(clampToInt(line));
    else
        bar->setValue(clampToInt(firstLineFitting(line).first));
}

std::pair<qsizetype, qsizetype> LogView::selection() const {
    return {std::min(anchor_, caret_), std::max(anchor_, caret_)};
}

void LogView::setSelection(qsizetype start, qsizetype end) {
    const qsizetype size = indexed_;
    anchor_ = std::clamp<qsizetype>(start, 0, size);
    caret_ = std::clamp<qsizetype>(end, 0, size);
    selectionChanged();
}

QString LogView::selectedText() const {
    const auto [from, to] = selection();
    return source_().mid(from, to - from);
}

void LogView::selectAll() {
    setSelection(0, indexed_);
}

void LogView::copy() const {
    const QString text = selectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void LogView::setCursorPosition(qsizetype position, bool keepAnchor) {
    caret_ = std::clamp<qsizetype>(position, 0, indexed_);
    if (!keepAnchor)
        anchor_ = caret_;
    ensureOffsetVisible(caret_);
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent event(this, clampToInt(caret_));
        QAccessible::updateAccessibility(&event);
    }
    selectionChanged();
}

void LogView::selectionChanged() {
    const auto [from, to] = selection();
    if (QAccessible::isActive() && from != to) {
        QAccessibleTextSelectionEvent event(this, clampToInt(from), clampToInt(to));
        QAccessible::updateAccessibility(&event);
    }
    viewport()->update();
}

qsizetype LogView::wordStart(qsizetype offset, bool forward) const {
    const auto [start, end] = lineSpanAt(offset);
    const QString line = source_().mid(start, end - start);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, line);
    finder.setPosition(int(offset - start));
    const qsizetype at = forward ? finder.toNextBoundary() : finder.toPreviousBoundary();
    if (at < 0)
        return forward ? end : start;
    return start + at;
}

std::pair<qsizetype, qsizetype> LogView::boundarySpanAt(qsizetype offset,
                                                        QTextBoundaryFinder::BoundaryType type) const {
    const auto [start, end] = lineSpanAt(offset);
    const QString line = source_().mid(start, end - start);
    const qsizetype local = std::min(offset - start, line.size());
    QTextBoundaryFinder finder(type, line);
    finder.setPosition(local);
    const qsizetype from =
        finder.isAtBoundary() ? local : std::max<qsizetype>(finder.toPreviousBoundary(), 0);
    finder.setPosition(local);
    const qsizetype next = finder.toNextBoundary();
    return {start + from, start + (next < 0 ? line.size() : next)};
}

void LogView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    selecting_ = true;
    setCursorPosition(offsetAt(event->position().toPoint()), event->modifiers().testFlag(Qt::ShiftModifier));
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
    if (!selecting_ || !(event->buttons() & Qt::LeftButton))
        return QAbstractScrollArea::mouseMoveEvent(event);
    QPoint point = event->position().toPoint();
    // Dragging past an edge carries the view along, a line at a time.
    QScrollBar* bar = verticalScrollBar();
    if (point.y() < 0)
        bar->setValue(bar->value() - 1);
    else if (point.y() >= viewport()->height())
        bar->setValue(bar->value() + 1);
    point.setY(std::clamp(point.y(), 0, viewport()->height() - 1));
    caret_ = offsetAt(point);
    selectionChanged();
}

void LogView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !selecting_)
        return QAbstractScrollArea::mouseReleaseEvent(event);
    selecting_ = false;
    QClipboard* clipboard = QApplication::clipboard();
    if (clipboard->supportsSelection() && anchor_ != caret_)
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseDoubleClickEvent(event);
    const auto [start, end] =
        boundarySpanAt(offsetAt(event->position().toPoint()), QTextBoundaryFinder::Word);
    setSelection(start, end);
}

void LogView::keyPressEvent(QKeyEvent* event) {
    const auto [lineStart, lineEnd] = lineSpanAt(caret_);
    const qsizetype line = lineOf(caret_);
    const qsizetype column = caret_ - lineStart;
    const auto onLine = [&](qsizetype target) {
        target = std::clamp<qsizetype>(target, 0, lineCount() - 1);
        const auto [start, end] = lineSpan(target);
        return std::min(start + column, end);
    };
    const int page = std::max(1, verticalScrollBar()->pageStep());
    struct Move {
        QKeySequence::StandardKey move;
        QKeySequence::StandardKey select;
        qsizetype to;
    };
    const Move moves[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, caret_ + 1},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, caret_ - 1},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, onLine(line + 1)},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, onLine(line - 1)},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, onLine(line + page)},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, onLine(line - page)},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, lineStart},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, lineEnd},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, 0},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, indexed_},
    };
    for (const Move& m : moves) {
        if (event->matches(m.move) || event->matches(m.select)) {
            setCursorPosition(m.to, event->matches(m.select));
            return;
        }
    }
    if (event->matches(QKeySequence::MoveToNextWord) || event->matches(QKeySequence::SelectNextWord)) {
        setCursorPosition(caret_ < lineEnd ? wordStart(caret_, true) : caret_ + 1,
                          event->matches(QKeySequence::SelectNextWord));
        return;
    }
    if (event->matches(QKeySequence::MoveToPreviousWord) ||
        event->matches(QKeySequence::SelectPreviousWord)) {
        setCursorPosition(caret_ > lineStart ? wordStart(caret_, false) : caret_ - 1,
                          event->matches(QKeySequence::SelectPreviousWord));
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"));
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(anchor_ != caret_);
    connect(copyAction, &QAction::triggered, this, &LogView::copy);
    menu.addSeparator();
    QAction* all = menu.addAction(tr("Select All"));
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(indexed_ > 0);
    connect(all, &QAction::triggered, this, &LogView::selectAll);
    menu.exec(event->globalPos());
}

void LogView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void LogView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

} // namespace vellorin
