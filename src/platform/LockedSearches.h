#pragma once

#include "platform/RunningSearches.h"

namespace vellorin {

// The lock file's holder: flock(2) on it, and the "PID START" it holds, checked against the
// process's start time in /proc so that a pid reused since is never signalled.
class LockedSearches final : public RunningSearches {
  public:
    std::optional<Holder> holder(const QString& lockFile) override;
    bool stop(const QString& lockFile, const Holder& holder, std::chrono::milliseconds grace) override;
};

} // namespace vellorin
