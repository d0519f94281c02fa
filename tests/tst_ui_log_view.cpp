// The log's view as a reader meets it: every line reachable by scrolling, long lines wrapped,
// the end resting on the bottom edge, text selected and copied with the mouse and the keyboard,
// and the same text read through the accessibility interface.

#include "ui/LogView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QScrollBar>
#include <QTest>

#include <set>

using namespace vellorin;
using namespace Qt::StringLiterals;

class LogViewTest : public QObject {
    Q_OBJECT
    QString text;
    std::unique_ptr<LogView> view;

    void open(int width = 400, int height = 200) {
        view = std::make_unique<LogView>([this]() -> const QString& { return text; });
        view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        view->resize(width, height);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    }
    void append(const QString& more) {
        text += more;
        view->textAppended();
    }
    static QString lines(int count, int from = 0) {
        QString all;
        for (int i = from; i < from + count; ++i)
            all += u"[10:00:%1] line %2\n"_s.arg(i % 60, 2, 10, QChar(u'0')).arg(i);
        return all;
    }
    QScrollBar* bar() const { return view->verticalScrollBar(); }
    // The middle of a character as drawn.
    QPoint pointOf(qsizetype offset) const { return view->characterRect(offset).center(); }

  private slots:
    void init() {
        text.clear();
        view.reset();
    }

    // Scrolling from the top to the end shows every line, each at most once per position, and
    // the last line ends on the bottom edge; a log that fits starts at the top, not the bottom.
    void everyLineIsReachableAndTheEndRestsOnTheBottom() {
        open();
        append(u"first\nsecond\n"_s);
        QTRY_VERIFY(view->isIndexed());
        QCOMPARE(view->lineCount(), 3); // the empty line after the last line feed
        QCOMPARE(bar()->maximum(), 0);
        QCOMPARE(view->lineRect(0).top(), 10);

        append(lines(300));
        QTRY_VERIFY(view->isIndexed());
        QCOMPARE(view->lineCount(), 303);
        QVERIFY(bar()->maximum() > 250);
        std::set<qsizetype> seen;
        for (int value = 0; value <= bar()->maximum(); ++value) {
            bar()->setValue(value);
            const std::vector<qsizetype> inView = view->linesInView();
            QCOMPARE(inView.front(), qsizetype(value == bar()->maximum() ? inView.front() : value));
            seen.insert(inView.begin(), inView.end());
        }
        QCOMPARE(seen.size(), std::size_t(303));
        const QRect last = view->lineRect(302);
        QCOMPARE(last.bottom() + 1, view->viewport()->height() - 10);
        QCOMPARE(view->lineText(301), u"[10:00:59] line 299"_s);
    }

    // A line wider than the view wraps onto rows of its own and never needs a sideways scroll;
    // a narrower view wraps it onto more rows, and the end still rests on the bottom edge.
    void longLinesWrapAtTheViewsWidth() {
        open(300, 200);
        const QString words = QStringList(40, u"sector"_s).join(u' ');
        append(lines(20) + words + u'\n');
        QTRY_VERIFY(view->isIndexed());
        const int row = view->lineRect(0).height();
        bar()->setValue(bar()->maximum());
        const QRect wide = view->lineRect(20);
        QVERIFY(wide.height() >= 3 * row);
        QVERIFY(wide.right() < view->viewport()->width());
        view->resize(200, 200);
        QTRY_VERIFY(view->lineRect(20).height() > wide.height());
        QCOMPARE(bar()->value(), bar()->maximum());
        QCOMPARE(view->lineRect(21).bottom() + 1, view->viewport()->height() - 10);
    }

    // The last line grows while in view (text without its line feed yet), and a log replaced
    // by a shorter one starts over: what is drawn and selected follows the text, not an old copy.
    void growingAndReplacedTextIsDrawnAsItIs() {
        open();
        append(u"Recovered 1"_s);
        QTRY_VERIFY(view->isIndexed());
        QCOMPARE(view->lineText(0), u"Recovered 1"_s);
        const int narrow = view->characterRect(10).right();
        append(u"00 files\nnext"_s);
        QTRY_VERIFY(view->isIndexed());
        QCOMPARE(view->lineText(0), u"Recovered 100 files"_s);
        QVERIFY(view->characterRect(18).left() > narrow);
        QCOMPARE(view->lineText(1), u"next"_s);

        view->selectAll();
        text = u"new run\n"_s;
        view->textReset();
        QCOMPARE(view->lineCount(), 2);
        QCOMPARE(view->lineText(0), u"new run"_s);
        QCOMPARE(view->selectedText(), QString());
        // A source that shrank without a word is read again from its start.
        append(lines(5));
        QTRY_VERIFY(view->isIndexed());
        text = u"x\n"_s;
        view->textAppended();
        QTRY_COMPARE(view->lineCount(), 2);
        QCOMPARE(view->lineText(0), u"x"_s);
    }

    // A drag selects exactly the characters between press and release, across lines; the
    // clipboard gets exactly that; a double click takes a word, select-all the whole log.
    void theMouseAndKeyboardSelectAndCopyTheText() {
        open(500, 300);
        append(lines(10));
        QTRY_VERIFY(view->isIndexed());
        const qsizetype from = text.indexOf(u"line 2"_s);
        const qsizetype to = text.indexOf(u"line 4"_s) + 4;
        QTest::mousePress(view->viewport(), Qt::LeftButton, {},
                          view->characterRect(from).topLeft() + QPoint(1, 2));
        QTest::mouseMove(view->viewport(), view->characterRect(to).topLeft() + QPoint(1, 2));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {},
                            view->characterRect(to).topLeft() + QPoint(1, 2));
        QCOMPARE(view->selectedText(), text.mid(from, to - from));
        QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), text.mid(from, to - from));

        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, pointOf(text.indexOf(u"line 7"_s) + 1));
        QCOMPARE(view->selectedText(), u"line"_s);

        QTest::keyClick(view.get(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), text);

        // The caret keeps its column from line to line and a shifted move selects.
        view->setCursorPosition(text.indexOf(u"line 3"_s));
        QTest::keyClick(view.get(), Qt::Key_Down);
        QCOMPARE(view->cursorPosition(), text.indexOf(u"line 4"_s));
        QTest::keyClick(view.get(), Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(view->selectedText(), u"line 4"_s);
    }

    // The caret moved past the bottom brings its line into view; to the end of the text, the
    // view is at its end.
    void theCaretStaysInView() {
        open();
        append(lines(200));
        QTRY_VERIFY(view->isIndexed());
        QCOMPARE(bar()->value(), 0);
        QTest::keyClick(view.get(), Qt::Key_PageDown);
        QTest::keyClick(view.get(), Qt::Key_PageDown);
        const QRect caret = view->characterRect(view->cursorPosition());
        QVERIFY(!caret.isEmpty() && caret.bottom() < view->viewport()->height());
        QVERIFY(bar()->value() > 0);
        QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(view->cursorPosition(), text.size());
        QCOMPARE(bar()->value(), bar()->maximum());
        QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(bar()->value(), 0);
    }

    // A screen reader gets the log's text, by line and by word, around any offset, without
    // the whole log being read; points on screen and offsets map both ways.
    void assistiveTechnologyReadsTheLogByLineAndWord() {
        open();
        view->setAccessibleName(u"Activity log"_s);
        append(lines(50));
        QTRY_VERIFY(view->isIndexed());
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(view.get());
        QVERIFY(accessible && accessible->textInterface());
        QCOMPARE(accessible->text(QAccessible::Name), u"Activity log"_s);
        QCOMPARE(accessible->role(), QAccessible::EditableText);
        QVERIFY(accessible->state().readOnly && accessible->state().multiLine);
        QAccessibleTextInterface* reader = accessible->textInterface();
        QCOMPARE(reader->characterCount(), int(text.size()));

        const int inLine7 = int(text.indexOf(u"line 7"_s)) + 2;
        int start = 0;
        int end = 0;
        QCOMPARE(reader->textAtOffset(inLine7, QAccessible::LineBoundary, &start, &end),
                 u"[10:00:07] line 7\n"_s);
        QCOMPARE(reader->textBeforeOffset(inLine7, QAccessible::LineBoundary, &start, &end),
                 u"[10:00:06] line 6\n"_s);
        QCOMPARE(reader->textAfterOffset(inLine7, QAccessible::LineBoundary, &start, &end),
                 u"[10:00:08] line 8\n"_s);
        QCOMPARE(reader->textAtOffset(inLine7, QAccessible::WordBoundary, &start, &end), u"line"_s);
        QCOMPARE(text.mid(start, end - start), u"line"_s);
        QCOMPARE(reader->textAtOffset(0, QAccessible::CharBoundary, &start, &end), u"["_s);
        QCOMPARE(reader->text(0, 5), text.left(5));

        const QRect box = reader->characterRect(inLine7);
        QVERIFY(!box.isEmpty());
        QCOMPARE(reader->offsetAtPoint(box.center()), inLine7);
        reader->setSelection(0, 3, 9);
        QCOMPARE(view->selectedText(), text.mid(3, 6));
        QCOMPARE(reader->selectionCount(), 1);
    }

    // An empty log shows its placeholder; once text arrives the placeholder is gone.
    void anEmptyLogShowsItsPlaceholder() {
        open();
        view->clearFocus(); // no caret in the pictures
        const QImage blank = view->viewport()->grab().toImage();
        view->setPlaceholderText(u"Logs will appear here when recovery starts."_s);
        const QImage placeholder = view->viewport()->grab().toImage();
        QVERIFY(placeholder != blank);
        append(u"\n"_s);
        QTRY_VERIFY(view->isIndexed());
        QCOMPARE(view->viewport()->grab().toImage(), blank);
    }
};

QTEST_MAIN(LogViewTest)
#include "tst_ui_log_view.moc"
