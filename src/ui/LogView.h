#pragma once

#include <QAbstractScrollArea>
#include <QTextBoundaryFinder>

#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

class QTextLayout;

namespace vellorin {

// A read-only view of a text that only grows at its end or is replaced as a whole: the
// activity log. It keeps where each line starts and lays out only the lines in view, so a log
// of a million lines costs the window what a page of it costs, and holds no copy of the text.
// The vertical scroll bar counts lines: its value is the first line in view, and at its
// maximum the last line rests on the bottom edge. Lines wrap at the view's width. The text
// can be selected with the mouse or a caret moved by the keyboard, copied, and read through
// the accessibility text interface.
class LogView : public QAbstractScrollArea {
    Q_OBJECT

  public:
    using Source = std::function<const QString&()>;
    explicit LogView(Source source, QWidget* parent = nullptr);
    ~LogView() override;

    // Text was added at the end of the source; it is read in the next turns of the event loop.
    void textAppended();
    // The source was replaced as a whole.
    void textReset();
    // Reads at once whatever the source gained (tests, benchmarks).
    void indexAll();
    // Every character of the source is placed on a line.
    bool isIndexed() const;

    QString toPlainText() const { return source_(); }
    QString placeholderText() const { return placeholder_; }
    void setPlaceholderText(const QString& text);

    qsizetype lineCount() const { return qsizetype(lineStarts_.size()); }
    QString lineText(qsizetype line) const;
    // The lines drawn, in whole or in part, from the top of the view down.
    std::vector<qsizetype> linesInView();
    // Where a line is drawn, in the viewport's coordinates; empty when it is not in view.
    QRect lineRect(qsizetype line);

    qsizetype cursorPosition() const { return caret_; }
    // Moves the caret into view; with keepAnchor the selection stretches from the anchor to it.
    void setCursorPosition(qsizetype position, bool keepAnchor = false);
    std::pair<qsizetype, qsizetype> selection() const;
    void setSelection(qsizetype start, qsizetype end);
    QString selectedText() const;
    void selectAll();
    void copy() const;

    // The offset under a point of the viewport; the nearest one when no text is there.
    qsizetype offsetAt(QPoint point);
    // A character's box in the viewport's coordinates; empty when it is not in view.
    QRect characterRect(qsizetype offset);
    void ensureOffsetVisible(qsizetype offset);
    // The first and one past the last offset of the line that holds an offset.
    std::pair<qsizetype, qsizetype> lineSpanAt(qsizetype offset) const;
    // The character or word (by the finder's type) that holds an offset, within its line.
    std::pair<qsizetype, qsizetype> boundarySpanAt(qsizetype offset,
                                                   QTextBoundaryFinder::BoundaryType type) const;

  signals:
    // New lines were read from the source; the scroll bar's range may have moved.
    void linesIndexed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    struct Placed {
        qsizetype line;
        int top;
    };

    void scheduleIndex();
    void indexSlice(qint64 budgetNs);
    std::pair<qsizetype, qsizetype> lineSpan(qsizetype line) const;
    qsizetype lineOf(qsizetype offset) const;
    QTextLayout* layoutOf(qsizetype line);
    int heightOf(qsizetype line);
    void forgetLayouts();
    void updateRange();
    const std::vector<Placed>& place();
    int textWidth() const;
    // The first line from which the lines up to `last` fit in the view, and whether they do.
    std::pair<qsizetype, bool> firstLineFitting(qsizetype last);
    qsizetype wordStart(qsizetype offset, bool forward) const;
    void selectionChanged();

    Source source_;
    QString placeholder_;
    // Where each line starts; the first line starts at 0, and a text ending in a line feed
    // ends with an empty line, as in any text view.
    std::deque<qsizetype> lineStarts_{0};
    qsizetype indexed_ = 0;
    bool indexScheduled_ = false;
    // The lines from the source's end that fill the view do not all fit: the text scrolls.
    bool overflows_ = false;
    std::unordered_map<qsizetype, std::unique_ptr<QTextLayout>> layouts_;
    int layoutWidth_ = -1;
    std::vector<Placed> placed_;
    qsizetype anchor_ = 0;
    qsizetype caret_ = 0;
    bool selecting_ = false;
};

} // namespace vellorin
