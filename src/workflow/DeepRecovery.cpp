#include "workflow/CarvedCopies.h"
#include "workflow/NamesStep.h"
#include "workflow/PathJoin.h"
#include "workflow/RecoveredFileScan.h"
#include "workflow/Utf8ChunkJoiner.h"
#include "workflow/ViewController.h"

#include "platform/DiskAccess.h"
#include "platform/EngineLauncher.h"
#include "platform/EngineProcess.h"
#include "platform/FileSystem.h"
#include "platform/Queues.h"
#include "platform/Resources.h"

#include <QStringDecoder>

#include <cerrno>
#include <future>

namespace vellorin {

void RecoveryViewModel::runDeepRecovery(const QString& scriptPath, const QString& sourcePath,
                                        const QString& savePath, const ScanOptions& options) {
    const std::optional<QString> recoveryDirectory = prepareRecoveryDirectory(savePath);
    if (!recoveryDirectory)
        return; // already reported; no monitor was started for this run

    const std::optional<QString> resourceFolder = platform_.resources->resourceFolder();
    if (!resourceFolder) {
        appendLog(QStringLiteral("Unable to get app resource path"));
        runSimplifiedRecoveryOnWorker(sourcePath, *recoveryDirectory);
        return;
    }
    const QString enginePath = engineFilesIn(*resourceFolder).engine;

    // The engine reads the source through a descriptor opened here, as the user, or handed
    // over by the disk service; a view left behind by an earlier run that was killed goes first.
    DiskAccess::Opened source;
    if (platform_.disks) {
        platform_.disks->unmountStaleViews();
        source = platform_.disks->openSource(sourcePath, [this](const QString& line) { appendLog(line); });
    }
    if (source.problem) {
        appendLog(*source.problem);
        handleEngineExit(kSourceUnreadableStatus, *recoveryDirectory);
        return;
    }

    EngineLauncher::Handlers handlers;
    // The engine can print, or even end, before this thread has said that it started; its
    // lines and its end wait for that one, so the log never shows them above "started".
    auto startedSaid = std::make_shared<std::promise<void>>();
    const std::shared_future<void> started = startedSaid->get_future().share();
    // The joiner is this run's own and lives on the reader thread with the handler.
    handlers.output = [weak = weakSelf(), joiner = std::make_shared<Utf8ChunkJoiner>(),
                       started](const QByteArray& chunk) {
        started.wait();
        const QByteArray whole = joiner->take(chunk);
        if (auto self = weak.lock())
            self->handleEngineOutput(whole);
    };
    // The names step runs first, while the list already follows the recovery folder.
    startFileMonitor(*recoveryDirectory);
    NamesStep::Outcome names;
    if (options.namesFirst && source.descriptor.get() >= 0 && platform_.engine) {
        appendLog(QStringLiteral("Reading the file system's records of deleted files..."));
        names =
            NamesStep::run(*platform_.engine, NamesStep::helperIn(*resourceFolder), source.descriptor.get(),
                           *recoveryDirectory, [this](const QString& line) { appendLog(line); });
        if (names.read)
            appendLog(NamesStep::summary(names));
    }
    QSet<QString> engineFoldersBefore;
    if (names.read)
        engineFoldersBefore = CarvedCopies::engineFolders(*platform_.fileSystem, *recoveryDirectory);

    handlers.exit = [weak = weakSelf(), queues = platform_.queues, fileSystem = platform_.fileSystem,
                     clock = platform_.clock, directory = *recoveryDirectory, started,
                     names = std::move(names),
                     engineFoldersBefore = std::move(engineFoldersBefore)](int status) {
        started.wait();
        // On this thread of the launcher's, before the last scan: the list and the count the
        // run ends with hold each file once.
        if (names.read) {
            const qint64 removed =
                CarvedCopies::remove(*fileSystem, *clock, directory, engineFoldersBefore, names.files);
            if (auto self = weak.lock())
                self->appendLog(
                    QStringLiteral("Removed %1 carved copies of files already restored.").arg(removed));
        }
        queues->postMain([weak, status, directory] {
            if (auto self = weak.lock())
                self->handleEngineExit(status, directory);
        });
    };
    // With the defaults the script gets exactly its three arguments.
    const QStringList arguments = QStringList{scriptPath} + options.scriptArguments() +
                                  QStringList{enginePath, sourcePath, *recoveryDirectory};
    EngineLauncher::Command command{QStringLiteral("/bin/bash"), arguments, savePath,
                                    source.descriptor.get()};
    std::shared_ptr<EngineProcess> process;
    if (platform_.engine)
        process = platform_.engine->makeProcess(std::move(command), std::move(handlers));

    // Set through the main queue, where it is read and cleared; posted before anything
    // this run posts later, so it is still set before the run can end.
    platform_.queues->postMain([weak = weakSelf(), process] {
        if (auto self = weak.lock())
            self->recoveryProcess_ = process;
    });
    std::optional<Error> failure =
        process ? process->launch() : std::optional<Error>(Error::fromErrno(ENOSYS));
    if (failure) {
        platform_.queues->postMain(
            [weak = weakSelf(), error = *failure, sourcePath, directory = *recoveryDirectory] {
                if (auto self = weak.lock())
                    self->handleEngineLaunchFailure(error, sourcePath, directory);
            });
        return;
    }
    source.descriptor.reset(); // the child has its own copy now
    appendLog(QStringLiteral("PhotoRec automation script started..."));
    startedSaid->set_value();
    process->waitUntilExit();
}

void RecoveryViewModel::handleEngineOutput(const QByteArray& chunk) {
    if (chunk.isEmpty())
        return;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(chunk);
    if (decoder.hasError())
        return; // not UTF-8: the chunk is dropped without a trace
    platform_.queues->postMain([weak = weakSelf(), text = std::move(text)] {
        if (auto self = weak.lock())
            self->appendLog(QStringLiteral("PhotoRec: ") + text.trimmed());
    });
}

void RecoveryViewModel::handleEngineExit(int exitStatus, const QString& recoveryDirectory) {
    stopFileMonitor();
    // One last scan, applied before the completion: a run shorter than a monitor interval
    // would otherwise end with an empty list.
    platform_.queues->background([weak = weakSelf(), fileSystem = platform_.fileSystem,
                                  clock = platform_.clock, queues = platform_.queues, disks = platform_.disks,
                                  exitStatus, recoveryDirectory] {
        if (disks)
            disks->unmountStaleViews();
        if (weak.expired())
            return;
        QList<RecoveredFile> files = scanRecoveredFiles(*fileSystem, *clock, recoveryDirectory);
        queues->postMain([weak, files = std::move(files), exitStatus, recoveryDirectory]() mutable {
            if (auto self = weak.lock()) {
                self->applyRecoveredFiles(std::move(files));
                self->completeRecovery(exitStatus, recoveryDirectory);
            }
        });
    });
}

void RecoveryViewModel::handleEngineLaunchFailure(const Error& error, const QString& sourcePath,
                                                  const QString& recoveryDirectory) {
    stopFileMonitor();
    appendLog(QStringLiteral("Failed to start PhotoRec: ") + error.description);
    // The folder prepared for the engine receives the copies: preparing it again would probe
    // the save location a second time and could make a second fallback folder.
    runSimplifiedRecoveryOnWorker(sourcePath, recoveryDirectory);
}

} // namespace vellorin
