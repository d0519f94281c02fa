#pragma once

#include "platform/Error.h"

#include <optional>

namespace vellorin {

// One run of the engine: made configured but not started, launched once, then waited for.
// Nothing here stops the process: the application never signals the engine.
class EngineProcess {
  public:
    virtual ~EngineProcess() = default;

    // Starts the process. An error means it never ran; the handlers are then never called.
    virtual std::optional<Error> launch() = 0;
    // Blocks the calling thread until the process has ended and returns its status: the exit
    // code, or the signal number when a signal killed it. Only after a successful launch.
    virtual int waitUntilExit() = 0;
};

} // namespace vellorin
