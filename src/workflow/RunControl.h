#pragma once

#include <chrono>
#include <memory>
#include <mutex>

namespace vellorin {

class EngineProcess;

// The user's Stop for one run: it ends whichever program the run has going (the names step's
// reader, then the engine script), and keeps the run from starting the next one.
class RunControl {
  public:
    // The script ends its engine and its view within about a second; this is the most any
    // program of a run gets before its whole group is killed.
    static constexpr std::chrono::milliseconds kStopGrace{1500};

    // The program now running; a stop already asked for ends it at once. Any thread.
    void attach(std::shared_ptr<EngineProcess> process);
    void detach();
    // Any thread; later calls change nothing.
    void requestStop();
    bool stopRequested() const;

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<EngineProcess> process_;
    bool stopRequested_ = false;
};

} // namespace vellorin
