#include "platform/Clock.h"
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
    void logTimeFollowsTheSecondShown();
    void systemClockReadsLocalTimeAndFollowsAZoneChange();

  private:
    QTemporaryDir scratch_;
};

void ActivityLogTest::freshViewModelIsIdle() {
    TestPlatform test(scratch_.path());
    auto model = RecoveryViewModel::create(test.platform());
    QCOMPARE(model->statusMessage(),
             QStringLiteral("Please select the data source location (where to recover data from)"));
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
    QCOMPARE(model->logText(),
             QLatin1Char('[') + formatLogTime(reached) + QStringLiteral("] Scan completed!\n"));
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
    QCOMPARE(model->logText(), stamp + QStringLiteral("\n") + stamp +
                                   QStringLiteral("ends in a line feed\n\n") + stamp +
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
    model->showAlert(QStringLiteral("Error"),
                     QStringLiteral("Save location must be outside the source path."));
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
    QVERIFY2(!text.contains(QStringLiteral("2031")) && !text.contains(QStringLiteral("19")),
             qPrintable(text));
}

void ActivityLogTest::logTimeFollowsTheSecondShown() {
    const QDateTime first(QDate(2031, 7, 19), QTime(14, 5, 9, 100));
    const QString firstText = formatLogTime(first);
    QCOMPARE(formatLogTime(first.addMSecs(850)), firstText);
    const QString nextText = formatLogTime(first.addSecs(1));
    QVERIFY2(nextText != firstText && nextText.contains(QStringLiteral("10")), qPrintable(nextText));
    // Back to an earlier second, another day at the same second, and midnight.
    QCOMPARE(formatLogTime(first), firstText);
    QCOMPARE(formatLogTime(first.addDays(3)), firstText);
    const QString midnight = formatLogTime(QDateTime(QDate(2031, 7, 20), QTime(0, 0, 0)));
    QVERIFY2(midnight.contains(QStringLiteral("00")) && midnight != firstText, qPrintable(midnight));
    QVERIFY(formatLogTime(QDateTime()).isEmpty());
    QCOMPARE(formatLogTime(QDateTime(QDate(2031, 7, 20), QTime(0, 0, 0))), midnight);
}

void ActivityLogTest::systemClockReadsLocalTimeAndFollowsAZoneChange() {
    const QByteArray savedZone = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    const auto restore = qScopeGuard([&] {
        if (hadZone)
            qputenv("TZ", savedZone);
        else
            qunsetenv("TZ");
    });
    SystemClock clock;
    // Zones with offsets no rounding error could produce by chance, +05:45 and -03:30, given
    // as POSIX rules so that no zone database is needed.
    for (const char* zone : {"XST-5:45", "YST3:30"}) {
        qputenv("TZ", zone);
        // The offset is looked up once per second: the next second shows the new zone.
        QTest::qWait(1100);
        const QDateTime before = QDateTime::currentDateTime();
        const QDateTime reading = clock.now();
        const QDateTime after = QDateTime::currentDateTime();
        QCOMPARE(reading.offsetFromUtc(), before.offsetFromUtc());
        QVERIFY2(before <= reading && reading <= after, qPrintable(reading.toString(Qt::ISODateWithMs)));
        // The clock reading is local: the time of day a person in that zone sees.
        QVERIFY(std::abs(before.time().msecsTo(reading.time())) < 1000);
        QCOMPARE(reading.offsetFromUtc(), zone[0] == 'X' ? 20700 : -12600);
    }
}

QTEST_MAIN(ActivityLogTest)
#include "tst_activity_log.moc"
