// The time left a long search shows: only once settled, steady on a steady disk, honest
// about stalls.

#include "workflow/ProgressEstimator.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

using namespace vellorin;

class ProgressEstimatorTest : public QObject {
    Q_OBJECT

  private slots:
    // A disk read at a rate that wobbles by a third from one update to the next: no time left
    // before 1% and 20 s, then one that never moves by more than a few percent between two
    // updates and stays within a quarter of the truth from a quarter of the way on.
    void aWobblingDiskGetsASteadyTimeLeft() {
        constexpr qint64 total = 100'000'000'000;
        constexpr double rate = 50e6;
        ProgressEstimator estimator(total);
        QRandomGenerator random(17);
        double seconds = 0;
        qint64 position = 0;
        std::optional<double> previous;
        double previousSeconds = 0;
        int estimates = 0;
        estimator.update(seconds, position); // the pass begins
        while (position < total) {
            seconds += 3;
            position =
                std::min(total, position + static_cast<qint64>(rate * 3 * (0.67 + random.bounded(0.66))));
            const ProgressEstimator::Reading reading = estimator.update(seconds, position);
            QVERIFY(!reading.stalled);
            QCOMPARE(reading.share, static_cast<double>(position) / total);
            if (seconds < ProgressEstimator::kSettleSeconds ||
                reading.share < ProgressEstimator::kSettleShare) {
                QVERIFY(!reading.secondsLeft);
                continue;
            }
            QVERIFY(reading.secondsLeft);
            ++estimates;
            if (previous) {
                const double expected = std::max(0.0, *previous - (seconds - previousSeconds));
                QVERIFY2(std::abs(*reading.secondsLeft - expected) <=
                             expected * ProgressEstimator::kLargestStep + 1.001,
                         qPrintable(QStringLiteral("%1 after %2").arg(*reading.secondsLeft).arg(*previous)));
            }
            const double truth = static_cast<double>(total - position) / rate;
            if (reading.share >= 0.25 && reading.share <= 0.9)
                QVERIFY2(
                    std::abs(*reading.secondsLeft - truth) <= truth * 0.25,
                    qPrintable(
                        QStringLiteral("%1 s left said, %2 s true").arg(*reading.secondsLeft).arg(truth)));
            previous = reading.secondsLeft;
            previousSeconds = seconds;
        }
        QVERIFY(estimates > 500);
    }

    // Reads that stop: "unknown" after the stall time, never a time left that grows without
    // end; when they go on, a time left comes back only once the rate has settled again.
    void aStallWithholdsTheTimeLeft() {
        ProgressEstimator estimator(10'000'000'000);
        double seconds = 0;
        qint64 position = 0;
        for (; seconds < 60; seconds += 2)
            estimator.update(seconds, position += 40'000'000);
        QVERIFY(estimator.update(seconds, position).secondsLeft);
        ProgressEstimator::Reading reading;
        for (const double stop = seconds; seconds < stop + ProgressEstimator::kStallSeconds + 2;
             seconds += 2) {
            reading = estimator.update(seconds, position);
            QVERIFY(reading.stalled || reading.secondsLeft);
        }
        QVERIFY(reading.stalled && !reading.secondsLeft);
        QCOMPARE(*reading.bytesPerSecond, 0.0);
        // A read behind the furthest one moves nothing back.
        QCOMPARE(estimator.update(seconds, position / 2).share, reading.share);
        reading = estimator.update(seconds += 2, position += 40'000'000);
        QVERIFY(!reading.stalled && !reading.secondsLeft);
        for (const double resumed = seconds; seconds < resumed + ProgressEstimator::kSettleSeconds;)
            reading = estimator.update(seconds += 2, position += 40'000'000);
        QVERIFY(reading.secondsLeft);
        QVERIFY(std::abs(*reading.secondsLeft - (10'000'000'000 - position) / 20e6) < 5);
    }
};

QTEST_MAIN(ProgressEstimatorTest)
#include "tst_progress_estimator.moc"
