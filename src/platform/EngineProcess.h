#pragma once

#include "platform/Error.h"

#include <chrono>
#include <optional>

namespace vellorin {

// One run of the engine: made configured but not started, launched once, then waited for, or
// stopped when the user asks for it.
class EngineProcess {
  public:
    virtual ~EngineProcess() = default;

    // Starts the process. An error means it never ran; the handlers are then never called.
    virtual std::optional<Error> launch() = 0;
    // Blocks the calling thread until the process has ended and returns its status: the exit
    // code, or the signal number when a signal killed it. Only after a successful launch.
    virtual int waitUntilExit() = 0;
    // Asks the process to end (SIGTERM), and ends it and every program it started (its process
    // group) if it has not ended after grace. Returns at once; a no-op once it has ended.
    virtual void stop(std::chrono::milliseconds grace) = 0;
};

} // namespace vellorin
