#include "support/Fakes.h"
#include "workflow/ViewController.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace vellorin;
using namespace vellorin::test;
using Color = RecoveryViewModel::StatusColor;

class CompletionTest : public QObject {
    Q_OBJECT

  private slots:
    void successAsksToOpenTheFolder();
    void viewLaterOpensNothing();
    void nonZeroStatusesFailWithoutAnAlert();
    void failureReportsTheDescription();
    void twoCompletionsAskTwice();
    void theQuestionIsAskedEvenWhenTheViewModelIsGone();
};

void CompletionTest::successAsksToOpenTheFolder() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    test.alerts->answers = {0};
    model->completeRecovery(0, QStringLiteral("/media/backup/recovered_files"));
    settle(*test.queues);
    QCOMPARE(logMessages(model->logText()),
             (QStringList{QStringLiteral("Data recovery completed!"),
                          QStringLiteral("Recovered files saved in: /media/backup/recovered_files")}));
    QCOMPARE(model->statusMessage(), QStringLiteral("Recovery Completed!"));
    QCOMPARE(model->statusColor(), Color::Green);
    QVERIFY(!model->isRecovering());
    QCOMPARE(test.alerts->shown.size(), std::size_t(1));
    QCOMPARE(test.alerts->shown[0].title, QStringLiteral("Recovery Completed"));
    QCOMPARE(
        test.alerts->shown[0].message,
        QStringLiteral(
            "Data recovery is complete. Do you want to open the folder containing the recovered files?"));
    QCOMPARE(test.alerts->shown[0].buttons,
             (QStringList{QStringLiteral("Open Folder"), QStringLiteral("View Later")}));
    QCOMPARE(test.workspace->opened, QStringList{QStringLiteral("/media/backup/recovered_files")});
}

void CompletionTest::viewLaterOpensNothing() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    test.alerts->answers = {1};
    model->completeRecovery(0, scratch.path());
    settle(*test.queues);
    QCOMPARE(test.alerts->shown.size(), std::size_t(1));
    QVERIFY(test.workspace->opened.isEmpty());
    QCOMPARE(model->statusMessage(), QStringLiteral("Recovery Completed!"));
}

void CompletionTest::nonZeroStatusesFailWithoutAnAlert() {
    for (int status : {-1, 1, 255, 9}) {
        QTemporaryDir scratch;
        TestPlatform test(scratch.path());
        auto model = RecoveryViewModel::create(test.platform());
        model->completeRecovery(status, scratch.path());
        settle(*test.queues);
        QCOMPARE(logMessages(model->logText()),
                 QStringList{QStringLiteral("Error occurred during recovery (Exit code: %1)").arg(status)});
        QCOMPARE(model->statusMessage(), QStringLiteral("Recovery failed, check logs"));
        QCOMPARE(model->statusColor(), Color::Red);
        QVERIFY(test.alerts->shown.empty());
        QVERIFY(test.workspace->opened.isEmpty());
    }
}

void CompletionTest::failureReportsTheDescription() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    model->failRecovery(
        Error{RecoveryViewModel::kErrorDomain, 1, QStringLiteral("Source path does not exist")});
    model->failRecovery(Error{QStringLiteral("other"), 0, QString()});
    settle(*test.queues);
    QCOMPARE(logMessages(model->logText()),
             (QStringList{QStringLiteral("Error starting recovery process: Source path does not exist"),
                          QStringLiteral("Error starting recovery process: ")}));
    QCOMPARE(model->statusMessage(), QStringLiteral("Start failed: "));
    QCOMPARE(model->statusColor(), Color::Red);
    QVERIFY(!model->isRecovering());
    QVERIFY(test.alerts->shown.empty());
}

void CompletionTest::twoCompletionsAskTwice() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    test.alerts->answers = {1, 0};
    model->completeRecovery(0, QStringLiteral("/first"));
    model->completeRecovery(0, QStringLiteral("/second"));
    settle(*test.queues);
    QCOMPARE(test.alerts->shown.size(), std::size_t(2));
    QCOMPARE(test.workspace->opened, QStringList{QStringLiteral("/second")});
}

void CompletionTest::theQuestionIsAskedEvenWhenTheViewModelIsGone() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    auto model = RecoveryViewModel::create(test.platform());
    test.alerts->answers = {0};
    model->completeRecovery(0, QStringLiteral("/done"));
    model->failRecovery(Error{QStringLiteral("x"), 1, QStringLiteral("ignored")});
    model.reset();
    settle(*test.queues);
    QCOMPARE(test.alerts->shown.size(), std::size_t(1));
    QCOMPARE(test.workspace->opened, QStringList{QStringLiteral("/done")});
}

QTEST_MAIN(CompletionTest)
#include "tst_completion.moc"
