#include "workflow/PathJoin.h"
#include "workflow/RunControl.h"
#include "workflow/ViewController.h"

#include "platform/FileSystem.h"
#include "platform/Queues.h"
#include "platform/Resources.h"

namespace vellorin {

void RecoveryViewModel::startRecovery(const QString& sourcePath, const QString& savePath) {
    {
        // Each run has its own Stop, so a late Stop of an earlier run can never end this one.
        const std::lock_guard lock(runMutex_);
        run_ = std::make_shared<RunControl>();
        runSourceName_ = selectedSourceName_;
    }
    // The first block of the run on the main queue: it also empties lines posted before it.
    platform_.queues->postMain([self = shared_from_this()] { self->resetForRecovery(); });
    appendLog(QStringLiteral("Starting data recovery..."));
    appendLog(QStringLiteral("Source path: ") + sourcePath);
    appendLog(QStringLiteral("Output path: ") + savePath);

    std::optional<QString> scriptPath;
    if (recoveryMode_ == RecoveryMode::CopyOnly)
        appendLog(QStringLiteral("Copying file by file, as asked; PhotoRec is not used."));
    else
        scriptPath = locateEngine();
    if (scriptPath) {
        appendLog(QStringLiteral("Using bundled PhotoRec for deep recovery..."));
        // The output-folder monitor is started by the run itself, once it knows which
        // folder the engine writes into (the save location's, or the fallback).
        platform_.queues->userInitiated(
            [weak = weakSelf(), scriptPath = *scriptPath, sourcePath, savePath, options = scanOptions_] {
                if (auto self = weak.lock())
                    self->runDeepRecovery(scriptPath, sourcePath, savePath, options);
            });
        return;
    }
    if (isDiskSource(sourcePath)) {
        // The engine went away after the start was allowed: a device is never copied file by file.
        refuseEnginelessStart();
        return;
    }
    appendLog(QStringLiteral("Using simplified recovery algorithm..."));
    platform_.queues->userInitiated([weak = weakSelf(), sourcePath, savePath] {
        auto self = weak.lock();
        if (!self)
            return;
        if (const std::optional<QString> recoveryDirectory = self->prepareRecoveryDirectory(savePath))
            self->runSimplifiedRecovery(sourcePath, *recoveryDirectory);
    });
}

void RecoveryViewModel::runSimplifiedRecoveryOnWorker(const QString& sourcePath,
                                                      const QString& recoveryDirectory) {
    // Only the engine reads a device or an image; copying it file by file is no fallback.
    if (isDiskSource(sourcePath)) {
        handleEngineExit(1, recoveryDirectory);
        return;
    }
    // The walk goes to a worker: on the main queue it would freeze the window for its length.
    platform_.queues->userInitiated([weak = weakSelf(), sourcePath, recoveryDirectory] {
        if (auto self = weak.lock())
            self->runSimplifiedRecovery(sourcePath, recoveryDirectory);
    });
}

void RecoveryViewModel::resetForRecovery() {
    setIsRecovering(true);
    setStatusMessage(QStringLiteral("Recovering data, please wait..."));
    setStatusColor(StatusColor::Blue);
    setRecoveredCount(0);
    setScannedCount(0);
    setProgress({});
    setRecoveredFiles({});
    setDeepResultsDirectory({});
    clearLog();
}

bool RecoveryViewModel::enginePresent() {
    return engineInstalled(platform_);
}

bool RecoveryViewModel::engineInstalled(const Platform& platform) {
    const std::optional<QString> folder =
        platform.resources ? platform.resources->resourceFolder() : std::nullopt;
    return folder && engineFilesExist(*platform.fileSystem, engineFilesIn(*folder));
}

bool RecoveryViewModel::engineFilesExist(FileSystem& fileSystem, const EngineFiles& files) {
    // Presence alone decides; whether either file can be run is the run's affair.
    return fileSystem.exists(files.script) && fileSystem.exists(files.engine);
}

bool RecoveryViewModel::isDiskSource(const QString& sourcePath) {
    return platform_.fileSystem->exists(sourcePath) && !platform_.fileSystem->isDirectory(sourcePath);
}

void RecoveryViewModel::refuseEnginelessStart() {
    appendLog(
        QStringLiteral("Start aborted: PhotoRec is not installed, and only PhotoRec can search a disk or an "
                       "image (install the package testdisk)"));
    platform_.queues->postMain([weak = weakSelf()] {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->isRecovering_)
            self->setIsRecovering(false);
        self->setStatusMessage(
            QStringLiteral("Recovering from a disk or an image needs PhotoRec (package testdisk)."));
        self->setStatusColor(StatusColor::Red);
        self->releaseSecurityScopedAccess();
    });
}

std::optional<QString> RecoveryViewModel::locateEngine() {
    const std::optional<QString> folder = platform_.resources->resourceFolder();
    if (!folder)
        return std::nullopt;
    const EngineFiles files = engineFilesIn(*folder);
    if (engineFilesExist(*platform_.fileSystem, files)) {
        appendLog(QStringLiteral("Found bundled PhotoRec and automation script"));
        return files.script;
    }
    appendLog(QStringLiteral("Bundled PhotoRec not found, using simplified algorithm"));
    return std::nullopt;
}

RecoveryViewModel::EngineFiles RecoveryViewModel::engineFilesIn(const QString& resourceFolder) {
    return {joinPath(resourceFolder, QStringLiteral("photorec_auto.sh")),
            joinPath(resourceFolder, QStringLiteral("photorec"))};
}

} // namespace vellorin
