#pragma once

#include "workflow/ProgressEstimator.h"
#include "workflow/RecoveryProgress.h"

#include <QByteArray>

#include <optional>

namespace vellorin {

// What the source view last said about the search it serves (its progress file).
struct ViewReport {
    qint64 size = 0;   // the whole source
    qint64 window = 0; // where the engine's view of it starts
    qint64 served = 0; // bytes read by the engine this run
    bool mainPass = false;
    std::optional<qint64> position; // the main pass's furthest read, in bytes of the whole source
    qint64 blockSize = 0;           // 0 while unknown

    // None when the text is no such report.
    static std::optional<ViewReport> parse(const QByteArray& text);
};

// Turns the view's reports of one run into the progress the window shows: the pass, the share
// of the search space read, the rate and the time left.
class SearchProgress {
  public:
    // seconds: a monotonic clock's reading.
    RecoveryProgress update(double seconds, const ViewReport& report);

  private:
    std::optional<ProgressEstimator> estimator_;
    std::optional<std::pair<double, qint64>> firstServed_; // for the rate while preparing
};

} // namespace vellorin
