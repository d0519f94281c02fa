#include "workflow/Questions.h"
#include "workflow/RecoveredFileScan.h"
#include "workflow/RunControl.h"
#include "workflow/SearchFollower.h"
#include "workflow/SearchRecord.h"
#include "workflow/ViewController.h"

#include "platform/Alerts.h"
#include "platform/Clock.h"
#include "platform/DiskAccess.h"
#include "platform/FileSystem.h"
#include "platform/Queues.h"
#include "platform/RunningSearches.h"

#include <QTimer>

#include <future>

namespace vellorin {

std::shared_ptr<RunControl> RecoveryViewModel::currentRun() const {
    const std::lock_guard lock(runMutex_);
    return run_;
}

void RecoveryViewModel::requestStop() {
    if (!isRecovering_)
        return;
    const int answer =
        platform_.alerts->runModal(QStringLiteral("Stop the Search"),
                                   QStringLiteral("Stop the search? The files recovered so far are kept."),
                                   {QStringLiteral("Stop"), QStringLiteral("Continue")});
    if (answer == 0)
        stopRecovery();
}

void RecoveryViewModel::stopRecovery() {
    if (const std::shared_ptr<RunControl> run = currentRun())
        run->requestStop();
}

void RecoveryViewModel::finishStoppedRecovery(const QString& recoveryDirectory) {
    stopFileMonitor();
    stopProgressFollower();
    platform_.queues->background([weak = weakSelf(), fileSystem = platform_.fileSystem,
                                  clock = platform_.clock, queues = platform_.queues, disks = platform_.disks,
                                  recoveryDirectory] {
        if (disks)
            disks->unmountStaleViews();
        if (weak.expired())
            return;
        QList<RecoveredFile> files = scanRecoveredFiles(*fileSystem, *clock, recoveryDirectory);
        queues->postMain([weak, files = std::move(files), recoveryDirectory]() mutable {
            auto self = weak.lock();
            if (!self)
                return;
            const qint64 count = files.size();
            self->applyRecoveredFiles(std::move(files));
            self->setRecoveredCount(count);
            self->recoveryProcess_.reset();
            self->showStopped(count);
            self->setDeepResultsDirectory(recoveryDirectory);
        });
    });
}

void RecoveryViewModel::showStopped(qint64 recovered) {
    setIsRecovering(false);
    setProgress({});
    appendLog(QStringLiteral("Search stopped: %1 files recovered.").arg(recovered));
    setStatusMessage(QStringLiteral("Recovery stopped"));
    setStatusColor(StatusColor::Orange);
    releaseSecurityScopedAccess();
}

void RecoveryViewModel::endNotStarted(const QString& message) {
    stopFileMonitor();
    platform_.queues->postMain([weak = weakSelf(), message] {
        auto self = weak.lock();
        if (!self)
            return;
        self->setIsRecovering(false);
        self->setProgress({});
        self->setStatusMessage(message);
        self->setStatusColor(StatusColor::Orange);
        self->releaseSecurityScopedAccess();
    });
}

int RecoveryViewModel::askFromWorker(const QString& title, const QString& message,
                                     const QStringList& buttons) {
    auto answer = std::make_shared<std::promise<int>>();
    std::future<int> answered = answer->get_future();
    platform_.queues->postMain([alerts = platform_.alerts, answer, title, message, buttons] {
        answer->set_value(alerts->runModal(title, message, buttons));
    });
    return answered.get();
}

bool RecoveryViewModel::settleRunningSearch(const QString& recoveryDirectory) {
    if (!platform_.searches)
        return true;
    const QString lock = SearchRecord::lockPathIn(recoveryDirectory);
    const std::optional<RunningSearches::Holder> holder = platform_.searches->holder(lock);
    if (!holder)
        return true;
    const int answer = askFromWorker(
        questions::kSearchStillRunning,
        QStringLiteral(
            "A search started earlier is still running into %1. Stop it and start this one, or cancel "
            "this start?")
            .arg(recoveryDirectory),
        {QStringLiteral("Stop It"), QStringLiteral("Cancel")});
    if (answer != 0) {
        appendLog(QStringLiteral("Not started: a search started earlier is still running into ") +
                  recoveryDirectory);
        endNotStarted(QStringLiteral("Not started: a search is still running there"));
        return false;
    }
    appendLog(QStringLiteral("Stopping the search that was still running into ") + recoveryDirectory +
              QStringLiteral("..."));
    if (!platform_.searches->stop(lock, *holder, RunControl::kStopGrace)) {
        appendLog(
            QStringLiteral("The search that was still running into %1 could not be stopped; nothing was "
                           "started beside it.")
                .arg(recoveryDirectory));
        endNotStarted(QStringLiteral("Not started: a search is still running there"));
        return false;
    }
    if (platform_.disks)
        platform_.disks->unmountStaleViews();
    appendLog(QStringLiteral("The earlier search was stopped; the files it recovered are kept."));
    return true;
}

void RecoveryViewModel::startProgressFollower(const QString& recoveryDirectory) {
    auto follower = std::make_shared<SearchFollower>(SearchRecord::progressPathIn(recoveryDirectory),
                                                     std::chrono::milliseconds(kProgressLogIntervalMs));
    platform_.queues->postMain([weak = weakSelf(), follower] {
        auto self = weak.lock();
        if (!self)
            return;
        self->follower_ = follower;
        auto timer = std::make_unique<QTimer>();
        timer->setInterval(kProgressIntervalMs);
        QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [weak, follower] {
            auto model = weak.lock();
            if (!model)
                return;
            model->platform_.queues->background(
                [weak, follower, fileSystem = model->platform_.fileSystem, queues = model->platform_.queues] {
                    std::optional<RecoveryProgress> progress = follower->poll(*fileSystem);
                    if (!progress)
                        return;
                    const bool log = follower->logDue();
                    queues->postMain([weak, follower, progress = *progress, log] {
                        auto self = weak.lock();
                        // A look begun before the run ended is not shown after it.
                        if (!self || self->follower_ != follower)
                            return;
                        self->setProgress(progress);
                        if (log)
                            self->appendLog(QStringLiteral("Progress: ") + progress.summary());
                    });
                });
        });
        timer->start();
        self->progressTimer_ = std::move(timer);
    });
}

void RecoveryViewModel::stopProgressFollower() {
    platform_.queues->postMain([weak = weakSelf()] {
        auto self = weak.lock();
        if (!self)
            return;
        self->progressTimer_.reset();
        self->follower_.reset();
    });
}

void RecoveryViewModel::publishCopyProgress(qint64 files, qint64 bytes, double seconds) {
    RecoveryProgress progress;
    progress.phase = RecoveryProgress::Phase::Copying;
    progress.files = files;
    progress.bytes = bytes;
    if (seconds > 0.5)
        progress.bytesPerSecond = static_cast<double>(bytes) / seconds;
    platform_.queues->postMain([weak = weakSelf(), progress] {
        auto self = weak.lock();
        if (self && self->isRecovering_)
            self->setProgress(progress);
    });
}

} // namespace vellorin
