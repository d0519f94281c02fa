#include "support/Fakes.h"
#include "ui/LogPanel.h"
#include "workflow/ViewController.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

using namespace vellorin;
using namespace vellorin::test;

class LogPanelTest : public QObject {
    Q_OBJECT

  private slots:
    // Lines that come faster than the panel draws them are drawn over many turns, for longer
    // than one scroll lasts; when all are drawn, the last line is in view all the same.
    void aFloodOfLinesEndsWithTheLastLineInView() {
        QTemporaryDir scratch;
        TestPlatform test(scratch.path());
        auto model = RecoveryViewModel::create(test.platform());
        LogPanel panel(model);
        panel.resize(700, 300);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        for (int i = 0; i < 60000; ++i)
            model->appendLog(
                QStringLiteral("PhotoRec: line %1 of a long run, with enough text to wrap").arg(i));
        QTRY_VERIFY_WITH_TIMEOUT(
            model->logText().endsWith(QStringLiteral("line 59999 of a long run, with enough text to wrap\n")),
            60000);
        QTRY_VERIFY_WITH_TIMEOUT(panel.isCaughtUp() && !panel.isScrollAnimating(), 60000);
        QScrollBar* bar = panel.textView()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());

        // The user scrolls up to read; the next line brings the end back into view.
        bar->setValue(0);
        model->appendLog(QStringLiteral("one more"));
        QTRY_VERIFY(model->logText().endsWith(QStringLiteral("one more\n")));
        QTRY_VERIFY(panel.isCaughtUp() && !panel.isScrollAnimating());
        QCOMPARE(bar->value(), bar->maximum());
    }
};

QTEST_MAIN(LogPanelTest)
#include "tst_ui_log_panel.moc"
