#include "workflow/CarvedCopies.h"
#include "workflow/NamesStep.h"
#include "workflow/PathJoin.h"
#include "workflow/Questions.h"
#include "workflow/RecoveredFileScan.h"
#include "workflow/RunControl.h"
#include "workflow/SearchProgress.h"
#include "workflow/SearchRecord.h"
#include "workflow/Utf8ChunkJoiner.h"
#include "workflow/ViewController.h"

#include "platform/Alerts.h"
#include "platform/DiskAccess.h"
#include "platform/EngineLauncher.h"
#include "platform/EngineProcess.h"
#include "platform/FileSystem.h"
#include "platform/Queues.h"
#include "platform/Resources.h"
#include "platform/SourceIdentity.h"

#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <future>
#include <variant>

namespace vellorin {

void RecoveryViewModel::runDeepRecovery(const QString& scriptPath, const QString& sourcePath,
                                        const QString& savePath, const ScanOptions& options) {
    const std::optional<QString> recoveryDirectory = prepareRecoveryDirectory(savePath);
    if (!recoveryDirectory)
        return; // already reported; no monitor was started for this run
    std::shared_ptr<RunControl> run = currentRun();
    if (!run)
        run = std::make_shared<RunControl>();
    // Two searches into one folder would number their folders alike and take each other's files.
    if (!settleRunningSearch(*recoveryDirectory))
        return;

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

    // An earlier search of this source into this folder that did not run to its end.
    FileSystem& fileSystem = *platform_.fileSystem;
    SearchRecord record;
    record.source = sourcePath;
    record.size = sourceSize(source.descriptor.get(), sourcePath);
    record.identity = sourceIdentity(source.descriptor.get(), sourcePath);
    record.options = options.scriptArguments();
    // A working folder that is not this user's own (a link, another user's) is never read,
    // written or cleared: the search then keeps no record.
    const bool recordable =
        !fileSystem.createPrivateDirectory(joinPath(*recoveryDirectory, SearchRecord::kWorkingFolder));
    const std::optional<SearchRecord> earlier =
        recordable ? SearchRecord::load(fileSystem, *recoveryDirectory) : std::nullopt;
    const SearchResume::Offer offer = SearchResume::assess(earlier, record);
    bool resume = false;
    if (offer.kind != SearchResume::Offer::Kind::None) {
        const QString name = selectedSourceNameForRun(sourcePath);
        const bool resumable = offer.kind == SearchResume::Offer::Kind::Resume;
        const int answer = askFromWorker(questions::kEarlierSearch, SearchResume::question(name, offer),
                                         resumable ? QStringList{questions::kResume, questions::kStartOver}
                                                   : QStringList{questions::kStartOver});
        if (answer == Alerts::kUnanswered) {
            // Nobody could say which: neither picking up nor clearing the earlier search is ours
            // to guess.
            appendLog(QStringLiteral("Not started: an earlier search of this source into %1 did not run to "
                                     "its end, and no one chose between resuming it and starting over.")
                          .arg(*recoveryDirectory));
            endNotStarted(QStringLiteral("Not started: an earlier search was found there"));
            return;
        }
        resume = resumable && answer == 0;
    }
    const QSet<QString> foldersNow = CarvedCopies::engineFolders(fileSystem, *recoveryDirectory);
    QStringList foldersNowList(foldersNow.begin(), foldersNow.end());
    foldersNowList.sort();
    qint64 window = 0;
    if (resume) {
        // The files the engine will come to again, whole, in its window go; so does the one it
        // was carving when the search ended, which may be cut short.
        const QList<SearchResume::Carved> carved =
            SearchResume::carvedFiles(fileSystem, *recoveryDirectory, *platform_.clock, *earlier, foldersNow);
        std::optional<qint64> newest;
        for (const SearchResume::Carved& file : carved)
            if (file.start < earlier->reached)
                newest = std::max(newest.value_or(file.start), file.start);
        window = SearchResume::windowStart(*earlier, newest.value_or(earlier->reached));
        qint64 dropped = 0;
        for (const SearchResume::Carved& file : carved)
            if (file.start >= window && !fileSystem.removeItem(file.path))
                ++dropped;
        record = *earlier;
        appendLog(QStringLiteral("Resuming the earlier search from byte %1 of %2: the %3 files it found from "
                                 "there on are searched for again.")
                      .arg(window)
                      .arg(record.size)
                      .arg(dropped));
    } else {
        record.runs.clear();
        if (earlier)
            appendLog(
                QStringLiteral("Starting the search over; the files the earlier search recovered are kept."));
    }
    record.runs.append(SearchRecord::Run{window, foldersNowList});
    if (recordable) {
        // Read into the record above; a report of an earlier run must never pass for this one's.
        fileSystem.removeItem(SearchRecord::progressPathIn(*recoveryDirectory));
        record.save(fileSystem, *recoveryDirectory);
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
    const bool namesWanted = !(resume && record.namesDone);
    if (namesWanted && options.namesFirst && source.descriptor.get() >= 0 && platform_.engine &&
        !run->stopRequested()) {
        appendLog(QStringLiteral("Reading the file system's records of deleted files..."));
        names = NamesStep::run(
            *platform_.engine, NamesStep::helperIn(*resourceFolder), source.descriptor.get(),
            *recoveryDirectory, [this](const QString& line) { appendLog(line); },
            [run](std::shared_ptr<EngineProcess> process) {
                if (process)
                    run->attach(std::move(process));
                else
                    run->detach();
            });
        if (names.read)
            appendLog(NamesStep::summary(names));
    }
    if (run->stopRequested()) {
        finishStoppedRecovery(*recoveryDirectory);
        return;
    }
    record.namesDone = true;
    if (recordable)
        record.save(fileSystem, *recoveryDirectory);

    // What was recovered before this run: a resumed search's files found again are removed.
    QList<NamesStep::Restored> kept = names.files;
    if (resume)
        for (const RecoveredFile& file : scanRecoveredFiles(fileSystem, *platform_.clock, *recoveryDirectory))
            kept.append(NamesStep::Restored{file.path(), file.size()});
    const bool removeCopies = names.read || resume;

    handlers.exit = [weak = weakSelf(), queues = platform_.queues, fileSystem = platform_.fileSystem,
                     clock = platform_.clock, directory = *recoveryDirectory, started, kept = std::move(kept),
                     removeCopies, foldersBefore = foldersNow, record, recordable, run](int status) mutable {
        started.wait();
        // On this thread of the launcher's, before the last scan: the list and the count the
        // run ends with hold each file once.
        if (removeCopies) {
            const qint64 removed = CarvedCopies::remove(*fileSystem, *clock, directory, foldersBefore, kept);
            if (auto self = weak.lock())
                self->appendLog(
                    QStringLiteral("Removed %1 carved copies of files already restored.").arg(removed));
        }
        // A search that did not run to its end keeps its record, with how far it came, for a
        // later start to pick up; the script removed the record of one that did.
        if (status != 0 && recordable) {
            const auto report = fileSystem->readSmallFile(SearchRecord::progressPathIn(directory), 4096);
            if (std::holds_alternative<QByteArray>(report))
                if (const std::optional<ViewReport> view = ViewReport::parse(std::get<QByteArray>(report)))
                    if (view->window == record.runs.last().window)
                        record.take(*view);
            record.save(*fileSystem, directory);
        }
        queues->postMain([weak, status, directory, run] {
            if (auto self = weak.lock()) {
                if (run->stopRequested())
                    self->finishStoppedRecovery(directory);
                else
                    self->handleEngineExit(status, directory);
            }
        });
    };
    // With the defaults the script gets exactly its three arguments.
    QStringList scriptOptions = options.scriptArguments();
    if (window > 0)
        scriptOptions << QStringLiteral("--start-at=%1").arg(window);
    const QStringList arguments =
        QStringList{scriptPath} + scriptOptions + QStringList{enginePath, sourcePath, *recoveryDirectory};
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
    run->attach(process);
    startProgressFollower(*recoveryDirectory);
    appendLog(QStringLiteral("PhotoRec automation script started..."));
    startedSaid->set_value();
    process->waitUntilExit();
}

QString RecoveryViewModel::selectedSourceNameForRun(const QString& sourcePath) {
    const std::lock_guard lock(runMutex_);
    return runSourceName_.isEmpty() ? sourcePath : runSourceName_;
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
    stopProgressFollower();
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
                if (exitStatus == 0)
                    self->setDeepResultsDirectory(recoveryDirectory);
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
