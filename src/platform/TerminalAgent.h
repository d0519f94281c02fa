#pragma once

#include <sys/types.h>

namespace vellorin {

// polkit's text agent (pkttyagent) for this terminal's session, while no other agent answers
// for it: the disk service's request for a password is then asked, and answered, right here,
// as a desktop session's dialog would ask it.
class TerminalAgent {
  public:
    TerminalAgent() = default;
    TerminalAgent(const TerminalAgent&) = delete;
    TerminalAgent& operator=(const TerminalAgent&) = delete;
    ~TerminalAgent();

    // True once the agent is registered; false when there is no terminal to ask on or the
    // agent could not start (the disk service then says that nobody could be asked).
    bool start();

  private:
    pid_t pid_ = -1;
};

} // namespace vellorin
