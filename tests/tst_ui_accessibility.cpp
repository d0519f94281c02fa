// The window as assistive technology and the keyboard reach it.

#include "support/WindowHarness.h"

#include "ui/ContentView.h"
#include "ui/LogPanel.h"
#include "ui/QuickStartSheet.h"
#include "ui/RecoveredFileRow.h"
#include "ui/RecoveredFilesPanel.h"
#include "ui/StepButtonLabel.h"
#include "ui/StepsPanel.h"
#include "workflow/ViewController.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QListView>
#include <QPlainTextEdit>
#include <QTest>

using namespace vellorin;
using namespace vellorin::test;

namespace {

QString accessibleName(QObject* object) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

// The text a sighted user reads on a control.
QString visibleText(QWidget* control) {
    if (auto* check = qobject_cast<QAbstractButton*>(control); check && !check->text().isEmpty())
        return check->text();
    if (auto* label = control->findChild<StepButtonLabel*>())
        return label->title();
    return {};
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowHarness> harness;
    std::unique_ptr<ContentView> view;

    void open() {
        harness = std::make_unique<WindowHarness>();
        view = std::make_unique<ContentView>(harness->platform());
        view->resize(1100, 750);
        view->show();
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
    }

    // A finished simplified recovery of the given files, driven through the buttons.
    void recover(const QStringList& names) {
        for (const QString& name : names)
            harness->writeFile(QStringLiteral("source/") + name, QByteArray(1200, 'x'));
        harness->clickAndAnswer(view->stepsPanel()->sourceButton(),
                                harness->folder(QStringLiteral("source")));
        harness->clickAndAnswer(view->stepsPanel()->startButton(), harness->folder(QStringLiteral("save")));
        QTRY_VERIFY_WITH_TIMEOUT(!view->viewModel()->isRecovering(), 10000);
        QTRY_COMPARE(harness->services.alerts->shown.size(), std::size_t(1));
    }

    QList<QWidget*> tabCycle(Qt::Key key = Qt::Key_Tab) {
        // Each control once, from the one after the focus round to the focus itself.
        QList<QWidget*> visited;
        QWidget* start = QApplication::focusWidget();
        for (int i = 0; i < 20; ++i) {
            QTest::keyClick(QApplication::focusWidget(), key);
            QWidget* focus = QApplication::focusWidget();
            if (!focus || visited.contains(focus))
                break;
            visited.append(focus);
            if (focus == start)
                break;
        }
        return visited;
    }

  private slots:
    void cleanup() {
        view.reset();
        if (harness)
            settle(*harness->services.queues);
        harness.reset();
    }

    void everyControlIsNamedAfterItsText() {
        open();
        auto controls = [&] {
            QList<QWidget*> found;
            for (QWidget* widget : view->findChildren<QWidget*>())
                if (widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus) &&
                    !visibleText(widget).isEmpty())
                    found.append(widget);
            return found;
        };
        QCOMPARE(controls().size(), 4);
        for (QWidget* control : controls())
            QCOMPARE(accessibleName(control), visibleText(control));

        // The names follow the texts when they change.
        harness->clickAndAnswer(view->stepsPanel()->sourceButton(),
                                harness->folder(QStringLiteral("source")));
        QPushButton* source = view->stepsPanel()->sourceButton();
        QTRY_COMPARE(accessibleName(source), QStringLiteral("Selected"));
        QCOMPARE(QAccessible::queryAccessibleInterface(source)->text(QAccessible::Description),
                 harness->folder(QStringLiteral("source")));
        for (QWidget* control : controls())
            QCOMPARE(accessibleName(control), visibleText(control));
        QCOMPARE(QAccessible::queryAccessibleInterface(source)->role(), QAccessible::Button);
        QCOMPARE(QAccessible::queryAccessibleInterface(view->stepsPanel()->showLogsToggle())->role(),
                 QAccessible::CheckBox);
    }

    void sheetButtonIsNamedAfterItsText() {
        harness = std::make_unique<WindowHarness>();
        harness->services.settings->seen = false;
        view = std::make_unique<ContentView>(harness->platform());
        view->show();
        QTRY_VERIFY(view->quickStartSheet() && view->quickStartSheet()->isVisible());
        QCOMPARE(accessibleName(view->quickStartSheet()->gotItButton()), QStringLiteral("Got it"));
        QCOMPARE(accessibleName(view->quickStartSheet()), QStringLiteral("Quick Start"));
    }

    void tabReachesEveryControlInLayoutOrder() {
        open();
        StepsPanel* steps = view->stepsPanel();
        // Before a source is chosen, the disabled start button is passed over.
        steps->sourceButton()->setFocus(Qt::TabFocusReason);
        QCOMPARE(tabCycle(), (QList<QWidget*>{steps->recoverAllFilesToggle(), steps->showLogsToggle(),
                                              steps->sourceButton()}));

        recover({QStringLiteral("a.jpg"), QStringLiteral("b.png")});
        QListView* list = view->recoveredFilesPanel()->listView();
        const QList<QWidget*> expected{steps->sourceButton(), steps->startButton(),
                                       steps->recoverAllFilesToggle(), steps->showLogsToggle(), list};
        steps->sourceButton()->setFocus(Qt::TabFocusReason);
        QList<QWidget*> forward = tabCycle();
        forward.prepend(forward.takeLast());
        QCOMPARE(forward, expected);
        // Layout order: each next control stands to the right on the same row, or lower.
        for (int i = 1; i < forward.size(); ++i) {
            const QRect before(forward[i - 1]->mapTo(view.get(), QPoint()), forward[i - 1]->size());
            const QRect after(forward[i]->mapTo(view.get(), QPoint()), forward[i]->size());
            QVERIFY(after.top() > before.bottom() ||
                    (after.left() > before.right() && after.top() < before.bottom()));
        }
        // Shift+Tab walks the same way back.
        QList<QWidget*> backward = tabCycle(Qt::Key_Backtab);
        std::reverse(backward.begin(), backward.end());
        QCOMPARE(backward, expected);

        // With the log shown, the log takes the list's place in the cycle.
        steps->showLogsToggle()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(steps->showLogsToggle(), Qt::Key_Space);
        QVERIFY(view->showLog());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), view->logPanel()->textView());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), steps->sourceButton());
    }

    void rowsAreExposedWithNameAndSize() {
        open();
        recover({QStringLiteral("beach.jpg"), QStringLiteral("song.mp3"), QStringLiteral("notes.txt")});
        QListView* list = view->recoveredFilesPanel()->listView();
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::List);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Recovered Files"));
        const auto& files = view->viewModel()->recoveredFiles();
        QCOMPARE(iface->childCount(), 3);
        for (int row = 0; row < 3; ++row) {
            QAccessibleInterface* item = iface->child(row);
            QVERIFY(item);
            QCOMPARE(item->role(), QAccessible::ListItem);
            QCOMPARE(item->text(QAccessible::Name), files.at(row).name() + QStringLiteral(", 1 KB"));
            QVERIFY(item->text(QAccessible::Description).contains(QStringLiteral("Return")));
        }
    }

    void openIsReachedAndPressedFromTheKeyboard() {
        open();
        recover({QStringLiteral("first.jpg"), QStringLiteral("second.jpg"), QStringLiteral("third.jpg")});
        const auto& files = view->viewModel()->recoveredFiles();
        StepsPanel* steps = view->stepsPanel();
        steps->showLogsToggle()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(steps->showLogsToggle(), Qt::Key_Tab);
        QListView* list = view->recoveredFilesPanel()->listView();
        QCOMPARE(QApplication::focusWidget(), list);
        // Focus lands on the first row; Down moves on, Return opens the file under focus.
        QCOMPARE(list->currentIndex().row(), 0);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentIndex().row(), 1);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(harness->services.workspace->revealed, QStringList{files.at(1).path()});
        QTest::keyClick(list, Qt::Key_Enter);
        QCOMPARE(harness->services.workspace->revealed.size(), 2);

        // The mouse on the "Open" link of the third row.
        const QRect rowRect = list->visualRect(list->model()->index(2, 0));
        const QPoint link = view->recoveredFilesPanel()->rowDelegate()->openLinkRect(rowRect).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, link);
        QCOMPARE(harness->services.workspace->revealed.last(), files.at(2).path());
        // A click on the row elsewhere only selects it.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          rowRect.topLeft() + QPoint(40, rowRect.height() / 2));
        QCOMPARE(harness->services.workspace->revealed.size(), 3);
    }
};

QTEST_MAIN(AccessibilityTest)
#include "tst_ui_accessibility.moc"
