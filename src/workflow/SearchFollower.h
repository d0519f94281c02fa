#pragma once

#include "workflow/RecoveryProgress.h"
#include "workflow/SearchProgress.h"

#include <QString>

#include <chrono>
#include <mutex>
#include <optional>

namespace vellorin {

class FileSystem;

// Follows one deep run through the source view's progress file: each look gives the progress
// to show, and now and then the time to say it in the log.
class SearchFollower {
  public:
    SearchFollower(QString progressPath, std::chrono::milliseconds logInterval);

    // None while the view has reported nothing of this run. Any thread.
    std::optional<RecoveryProgress> poll(FileSystem& fileSystem);
    // The report last read.
    std::optional<ViewReport> lastReport() const;
    // True when the progress is due in the log again; the first time some seconds in.
    bool logDue();

  private:
    using Clock = std::chrono::steady_clock;
    const QString path_;
    const std::chrono::milliseconds logInterval_;
    const Clock::time_point started_ = Clock::now();
    mutable std::mutex mutex_;
    SearchProgress progress_;
    std::optional<ViewReport> last_;
    Clock::time_point lastLog_ = started_;
};

} // namespace vellorin
