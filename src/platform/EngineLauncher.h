#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace vellorin {

class EngineProcess;

// Makes engine processes: a program with an argument vector (never a shell string), standard
// output and standard error on one pipe, a working directory, and no other inherited descriptor
// but the one handed on by name.
class EngineLauncher {
  public:
    struct Command {
        QString program;
        QStringList arguments; // without the program itself
        QString workingDirectory;
        // Open in the child as descriptor 3 when set: the source's read-only descriptor, which
        // the engine script hands on to the source view. The caller keeps it open until launch.
        int handedDescriptor = -1;
    };
    struct Handlers {
        // Each chunk one read returned, never empty, in order, on the reader thread.
        std::function<void(const QByteArray& chunk)> output;
        // Once the process has ended, with its status (as EngineProcess::waitUntilExit), on
        // a thread of the launcher's own. Output still in the pipe may come after it.
        std::function<void(int status)> exit;
    };

    virtual ~EngineLauncher() = default;
    virtual std::shared_ptr<EngineProcess> makeProcess(Command command, Handlers handlers) = 0;
};

} // namespace vellorin
