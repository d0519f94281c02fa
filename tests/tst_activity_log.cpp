#include "support/Fakes.h"
#include "workflow/ViewController.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using namespace vellorin;
using namespace vellorin::test;

class ActivityLogTest : public QObject {
    Q_OBJECT

private slots:
    void freshViewModelIsIdle();
    void linesAreStampedWhenTheyReachTheLog();
    void messagesAreTakenAsGiven();
    void linesFromSeveralThreadsKeepEachThreadsOrder();
    void aLineAfterTheViewModelIsGoneIsDropped();
    void alertsHaveOneOkButtonAndNeedNoViewModel();
    void logTimeHasSecondsAndNoDate();

private:
    QTemporaryDir scratch_;
};

void ActivityLogTest::freshViewModelIsIdle() {
    TestPlatform test(scratch_.path());
    auto model = RecoveryViewModel::create(test.platform());
    QCOMPARE(model->statusMessage(), QStringLiteral("Please select the data source location (where to recover data from)"));
    QCOMPARE(model->statusColor(), RecoveryViewModel::StatusColor::Primary);
    QVERIFY(model->logText().isEmpty());
    QCOMPARE(model->recoveredCount(), 0);
    QCOMPARE(model->scannedCount(), 0);
    QVERIFY(model->recoveredFiles().isEmpty());
    QVERIFY(!model->selectedDrivePath());
    QVERIFY(!model->property("selectedDrivePath").isValid());
    QVERIFY(!model->recoverAllFiles());
    QVERIFY(!model->isRecovering());
    QVERIFY(!model->recoveryProcess());
    QVERIFY(!model->fileMonitorTimer());
    QVERIFY(!model->sourceScopedURL());
    QVERIFY(!model->outputScopedURL());
}

void ActivityLogTest::linesAreStampedWhenTheyReachTheLog() {
    TestPlatform test(scratch_.path());
    auto model = RecoveryViewModel::create(test.platform());
    const QDateTime asked(QDate(2026, 3, 1), QTime(9, 15, 0));
    const QDateTime reached(QDate(2026, 3, 1), QTime(9, 15, 7));
    test.clock->set(asked);
    QSignalSpy appended(model.get(), &RecoveryViewModel::logLineAppended);
    QSignalSpy changed(model.get(), &RecoveryViewModel::logTextChanged);
    model->appendLog(QStringLiteral("Scan completed!"));
    QVERIFY(model->logText().isEmpty()); // posted, not written in the call
    test.clock->set(reached);
    QTRY_COMPARE(changed.count(), 1);
    QCOMPARE(model->logText(), QLatin1Char('[') + formatLogTime(reached) + QStringLiteral("] Scan completed!\n"));
    QCOMPARE(appended.count(), 1);
    QCOMPARE(appended.at(0).at(0).toString(), model->logText());
}

void ActivityLogTest::messagesAreTakenAsGiven() {
    TestPlatform test(scratch_.path());
    auto model = RecoveryViewModel::create(test.platform());
    const QDateTime now(QDate(2026, 1, 2), QTime(23, 59, 58));
    test.clock->set(now);
    const QString stamp = QLatin1Char('[') + formatLogTime(now) + QStringLiteral("] ");
    model->appendLog(QString());
    model->appendLog(QStringLiteral("ends in a line feed\n"));
    model->appendLog(QStringLiteral("  two\nlines  "));
    settle(*test.queues);
    QCOMPARE(model->logText(), stamp + QStringLiteral("\n") + stamp + QStringLiteral("ends in a line feed\n\n") + stamp +
                                   QStringLiteral("  two\nlines  \n"));
}

void ActivityLogTest::linesFromSeveralThreadsKeepEachThreadsOrder() {
    TestPlatform test(scratch_.path());
    auto model = RecoveryViewModel::create(test.platform());
    constexpr int kThreads = 4;
    constexpr int kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&model, t] {
            for (int i = 0; i < kLines; ++i)
                model->appendLog(QStringLiteral("thread %1 line %2").arg(t).arg(i));
        });
    }
    for (auto& thread : threads)
        thread.join();
    QTRY_COMPARE(logMessages(model->logText()).size(), kThreads * kLines);
    std::vector<int> next(kThreads, 0);
    for (const QString& line : logMessages(model->logText())) {
        const QStringList words = line.split(QLatin1Char(' '));
        QCOMPARE(words.size(), 4); // a line never mixes with another
        const int t = words.at(1).toInt();
        QCOMPARE(words.at(3).toInt(), next[t]++);
    }
}

void ActivityLogTest::aLineAfterTheViewModelIsGoneIsDropped() {
    TestPlatform test(scratch_.path());
    auto model = RecoveryViewModel::create(test.platform());
    QPointer<RecoveryViewModel> watch(model.get());
    std::thread worker([weak = std::weak_ptr<RecoveryViewModel>(model), queues = test.queues] {
        // Posted from a worker while the main thread drops its reference.
        queues->postMain([weak] { QVERIFY(weak.expired()); });
        if (auto self = weak.lock())
            self->appendLog(QStringLiteral("late"));
    });
    worker.join();
    model.reset();
    settle(*test.queues);
    QVERIFY(watch.isNull()); // destroyed on the main thread, and nothing touched it afterwards
}

void ActivityLogTest::alertsHaveOneOkButtonAndNeedNoViewModel() {
    TestPlatform test(scratch_.path());
    auto model = RecoveryViewModel::create(test.platform());
    model->showAlert(QStringLiteral("Error"), QStringLiteral("Save location must be outside the source path."));
    model.reset();
    settle(*test.queues);
    QCOMPARE(test.alerts->shown.size(), std::size_t(1));
    QCOMPARE(test.alerts->shown[0].title, QStringLiteral("Error"));
    QCOMPARE(test.alerts->shown[0].buttons, QStringList{QStringLiteral("OK")});
}

void ActivityLogTest::logTimeHasSecondsAndNoDate() {
    const QDateTime time(QDate(2031, 7, 19), QTime(14, 5, 9));
    const QString text = formatLogTime(time);
    QVERIFY2(text.contains(QStringLiteral("09")), qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("2031")) && !text.contains(QStringLiteral("19")), qPrintable(text));
}

QTEST_MAIN(ActivityLogTest)
#include "tst_activity_log.moc"
