#include "workflow/ProgressEstimator.h"

#include <algorithm>

namespace vellorin {

ProgressEstimator::ProgressEstimator(qint64 total, qint64 start)
    : total_(std::max<qint64>(total, 1)), start_(std::clamp<qint64>(start, 0, total_)), furthest_(start_) {}

ProgressEstimator::Reading ProgressEstimator::update(double seconds, qint64 position) {
    if (!startSeconds_) {
        startSeconds_ = seconds;
        lastAdvance_ = seconds;
    }
    // The engine reads a little behind itself now and then: the furthest position counts.
    position = std::clamp<qint64>(position, 0, total_);
    if (position > furthest_) {
        furthest_ = position;
        lastAdvance_ = seconds;
    }
    window_.emplace_back(seconds, furthest_);
    while (window_.size() > 2 && window_.front().first < seconds - kRateWindowSeconds)
        window_.pop_front();

    Reading reading;
    reading.share = static_cast<double>(furthest_) / static_cast<double>(total_);
    const double span = window_.back().first - window_.front().first;
    if (span > 0)
        reading.bytesPerSecond = static_cast<double>(window_.back().second - window_.front().second) / span;

    reading.stalled = seconds - lastAdvance_ >= kStallSeconds;
    if (reading.stalled) {
        // After a stall the rate must settle again before a time left is worth saying.
        lastEstimate_.reset();
        window_.erase(window_.begin(), window_.end() - 1);
        reading.bytesPerSecond = 0;
        return reading;
    }
    const double passShare = static_cast<double>(furthest_ - start_) / static_cast<double>(total_);
    if (passShare < kSettleShare || seconds - *startSeconds_ < kSettleSeconds || !reading.bytesPerSecond ||
        *reading.bytesPerSecond <= 0 || span < kSettleSeconds / 2)
        return reading;

    double left = static_cast<double>(total_ - furthest_) / *reading.bytesPerSecond;
    if (lastEstimate_) {
        // What the last estimate says now, give or take a few percent.
        const double expected = std::max(0.0, lastEstimate_->second - (seconds - lastEstimate_->first));
        left = std::clamp(left, expected * (1 - kLargestStep), expected * (1 + kLargestStep) + 1);
    }
    lastEstimate_ = std::make_pair(seconds, left);
    reading.secondsLeft = left;
    return reading;
}

} // namespace vellorin
