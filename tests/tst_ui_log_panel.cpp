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
    // The log is opened while a long run has written many lines, and the next line arrives:
    // the lines are drawn over many turns, for longer than one scroll lasts, and when all are
    // drawn the last line is in view all the same.
    void theLastLineComesIntoViewAfterABacklogIsDrawn() {
        QTemporaryDir scratch;
        TestPlatform test(scratch.path());
        auto model = RecoveryViewModel::create(test.platform());
        LogPanel panel(model);
        panel.resize(700, 300);
        for (int i = 0; i < 100000; ++i)
            model->appendLog(
                QStringLiteral("PhotoRec: line %1 of a long run, with enough text to wrap").arg(i));
        settle(*test.queues);

        panel.show();
        panel.showFromTop();
        model->appendLog(QStringLiteral("the next line"));
        QTRY_VERIFY_WITH_TIMEOUT(model->logText().endsWith(QStringLiteral("the next line\n")), 10000);
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
