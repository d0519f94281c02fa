#pragma once

#include <QtGlobal>

#include <deque>
#include <optional>
#include <utility>

namespace vellorin {

// Turns the positions a search has reached in its main pass into a share, a rate and a time
// left that a user can trust: the time left is given only once the rate has settled, moves by
// a few percent at most between two updates on a steady disk, and is withheld while reads
// stall instead of growing towards years.
class ProgressEstimator {
  public:
    struct Reading {
        double share = 0;                     // of the search space, 0 to 1
        std::optional<double> bytesPerSecond; // once two positions are known
        std::optional<double> secondsLeft;    // once settled, and not while stalled
        bool stalled = false;
    };

    // Settled: this share of the pass read, and this long into it.
    static constexpr double kSettleShare = 0.01;
    static constexpr double kSettleSeconds = 20;
    // No progress for this long is a stall.
    static constexpr double kStallSeconds = 10;
    // The rate is that of the positions of this last stretch of time.
    static constexpr double kRateWindowSeconds = 30;
    // Largest change of the time left between two updates, beyond the time that passed.
    static constexpr double kLargestStep = 0.05;

    // total: the bytes of the search space; start: where the pass began in it.
    ProgressEstimator(qint64 total, qint64 start = 0);

    // seconds: a monotonic clock's reading; position: where the pass has reached.
    Reading update(double seconds, qint64 position);

  private:
    qint64 total_;
    qint64 start_;
    std::optional<double> startSeconds_;
    std::deque<std::pair<double, qint64>> window_;
    qint64 furthest_ = 0;
    double lastAdvance_ = 0;
    std::optional<std::pair<double, double>> lastEstimate_; // (seconds, seconds left)
};

} // namespace vellorin
