#include "platform/TerminalAgent.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vellorin {

namespace {
constexpr const char* kAgent = "/usr/bin/pkttyagent";
// How long registering may take before the run goes on without it.
constexpr int kRegisterTimeoutMs = 5000;
} // namespace

TerminalAgent::~TerminalAgent() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

bool TerminalAgent::start() {
    if (pid_ > 0)
        return true;
    if (::isatty(STDIN_FILENO) != 1 || ::access(kAgent, X_OK) != 0)
        return false;
    int notify[2];
    if (::pipe2(notify, O_CLOEXEC) != 0)
        return false;
    // Made before fork: between fork and exec only async-signal-safe calls.
    char agent[] = "pkttyagent";
    char notifyOption[] = "--notify-fd";
    char notifyFd[] = "3";
    char fallback[] = "--fallback";
    char* const arguments[] = {agent, notifyOption, notifyFd, fallback, nullptr};
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(notify[0]);
        ::close(notify[1]);
        return false;
    }
    if (pid == 0) {
        // dup2 clears close-on-exec on the copy only.
        if (::dup2(notify[1], 3) < 0)
            ::_exit(127);
        ::execv(kAgent, arguments);
        ::_exit(127);
    }
    ::close(notify[1]);
    pid_ = pid;
    // The agent closes its end once it is registered, or dies trying.
    struct pollfd watched {
        notify[0], POLLIN, 0
    };
    int ready = 0;
    while ((ready = ::poll(&watched, 1, kRegisterTimeoutMs)) < 0 && errno == EINTR) {
    }
    char byte = 0;
    const bool closed = ready == 1 && ::read(notify[0], &byte, 1) == 0;
    ::close(notify[0]);
    // Closing its end by dying is no registration.
    const pid_t ended = ::waitpid(pid_, nullptr, WNOHANG);
    if (closed && ended == 0)
        return true;
    if (ended == 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    return false;
}

} // namespace vellorin
