#pragma once

#include <QString>

#include <chrono>
#include <optional>

namespace vellorin {

// Searches that run into a recovery folder, found through the lock file in its hidden working
// folder, which every program of a search holds while it runs: never by process names, which
// anyone can take.
class RunningSearches {
  public:
    struct Holder {
        qint64 pid = 0;          // the search's script, the leader of its process group
        bool leaderAlive = true; // false: the script is gone, programs it started still run
    };

    virtual ~RunningSearches() = default;
    // The search that still holds lockFile, if any.
    virtual std::optional<Holder> holder(const QString& lockFile) = 0;
    // Asks it to stop, and ends every program it still has after grace. True once the lock is free.
    virtual bool stop(const QString& lockFile, const Holder& holder, std::chrono::milliseconds grace) = 0;
};

} // namespace vellorin
