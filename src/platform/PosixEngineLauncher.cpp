#include "platform/PosixEngineLauncher.h"

#include "platform/EngineProcess.h"
#include "platform/PosixFileSystem.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vellorin {

namespace {

// How long the end of a process waits for the output it wrote before its exit is reported,
// so that its last lines normally come before the completion. A grandchild that keeps the
// pipe open does not hold the exit up any longer than this.
constexpr auto kOutputGrace = std::chrono::milliseconds(250);
constexpr std::size_t kReadSize = 64 * 1024;
// Where the engine script looks for the source's descriptor.
constexpr int kHandedDescriptor = 3;

struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool exited = false;
    bool outputEnded = false;
    int status = 0;
};

int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return WTERMSIG(waitStatus);
    return waitStatus;
}

void readOutput(int fd, std::function<void(const QByteArray&)> output, std::shared_ptr<Shared> shared) {
    std::vector<char> buffer(kReadSize);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (output)
            output(QByteArray(buffer.data(), static_cast<qsizetype>(n)));
    }
    ::close(fd);
    output = nullptr; // what the handler holds is let go before the end is announced
    std::lock_guard lock(shared->mutex);
    shared->outputEnded = true;
    shared->changed.notify_all();
}

void awaitExit(pid_t pid, std::function<void(int)> exit, std::shared_ptr<Shared> shared) {
    int waitStatus = 0;
    pid_t result;
    do {
        result = ::waitpid(pid, &waitStatus, 0);
    } while (result < 0 && errno == EINTR);
    const int status = result == pid ? statusOf(waitStatus) : -1;
    {
        std::unique_lock lock(shared->mutex);
        shared->exited = true;
        shared->status = status;
        shared->changed.notify_all();
        shared->changed.wait_for(lock, kOutputGrace, [&] { return shared->outputEnded; });
    }
    if (exit)
        exit(status);
}

class PosixEngineProcess final : public EngineProcess {
  public:
    PosixEngineProcess(EngineLauncher::Command command, EngineLauncher::Handlers handlers)
        : command_(std::move(command)), handlers_(std::move(handlers)), shared_(std::make_shared<Shared>()) {}

    std::optional<Error> launch() override {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return Error::fromErrno(errno);
        const int readEnd = fds[0];
        const int writeEnd = fds[1];

        std::vector<std::string> strings;
        strings.push_back(nativePath(command_.program));
        for (const QString& argument : command_.arguments)
            strings.push_back(nativePath(argument));
        std::vector<char*> argv;
        for (std::string& s : strings)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        const std::string directory = nativePath(command_.workingDirectory);

        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        // dup2 clears close-on-exec on the copies only; every other descriptor of this
        // process, even one a library opened without O_CLOEXEC, is closed in the child.
        posix_spawn_file_actions_adddup2(&actions, writeEnd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, writeEnd, STDERR_FILENO);
        int firstClosed = STDERR_FILENO + 1;
        if (command_.handedDescriptor >= 0) {
            // Never already 3 here (handed-on descriptors are kept higher), so dup2 makes a
            // copy without close-on-exec.
            posix_spawn_file_actions_adddup2(&actions, command_.handedDescriptor, kHandedDescriptor);
            firstClosed = kHandedDescriptor + 1;
        }
        posix_spawn_file_actions_addclosefrom_np(&actions, firstClosed);
        if (!directory.empty())
            posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
        // The engine runs in a session of its own, so that a terminal's hang-up or Ctrl+C
        // aimed at the application never reaches it; worker threads' blocked signals and
        // an ignored SIGPIPE are not passed on.
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes,
                                 POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

        pid_t pid = -1;
        const int spawned = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(writeEnd);
        if (spawned != 0) {
            ::close(readEnd);
            return Error::fromErrno(spawned);
        }

        std::thread(readOutput, readEnd, std::move(handlers_.output), shared_).detach();
        std::thread(awaitExit, pid, std::move(handlers_.exit), shared_).detach();
        pid_ = pid;
        launched_ = true;
        return std::nullopt;
    }

    int waitUntilExit() override {
        if (!launched_)
            return -1;
        std::unique_lock lock(shared_->mutex);
        shared_->changed.wait(lock, [&] { return shared_->exited; });
        return shared_->status;
    }

    void stop(std::chrono::milliseconds grace) override {
        if (!launched_)
            return;
        {
            // Until it has been waited for, the pid is still this process's child's.
            const std::lock_guard lock(shared_->mutex);
            if (shared_->exited)
                return;
            ::kill(pid_, SIGTERM);
        }
        // It leads a session of its own, so its group is every program it started.
        std::thread([pid = pid_, grace, shared = shared_] {
            std::unique_lock lock(shared->mutex);
            if (!shared->changed.wait_for(lock, grace, [&] { return shared->exited; }))
                ::kill(-pid, SIGKILL);
        }).detach();
    }

  private:
    pid_t pid_ = -1;
    EngineLauncher::Command command_;
    EngineLauncher::Handlers handlers_;
    std::shared_ptr<Shared> shared_;
    bool launched_ = false;
};

} // namespace

std::shared_ptr<EngineProcess> PosixEngineLauncher::makeProcess(Command command, Handlers handlers) {
    return std::make_shared<PosixEngineProcess>(std::move(command), std::move(handlers));
}

} // namespace vellorin
