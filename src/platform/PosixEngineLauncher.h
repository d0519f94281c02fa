#pragma once

#include "platform/EngineLauncher.h"

namespace vellorin {

// posix_spawn with one pipe for standard output and error, a reader thread per process and
// a thread that waits for its end. Both threads are detached: quitting the application
// neither waits for the engine nor stops it.
class PosixEngineLauncher final : public EngineLauncher {
  public:
    std::shared_ptr<EngineProcess> makeProcess(Command command, Handlers handlers) override;
};

} // namespace vellorin
