#include "workflow/RecoveredFileScan.h"
#include "workflow/RecoveryFolderIndex.h"
#include "workflow/ViewController.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Queues.h"

#include <QTimer>

#include <utility>

namespace vellorin {

namespace {

constexpr int kMonitorIntervalMs = 2000;

// Freeing a list of a hundred thousand records takes tens of milliseconds: that is done on
// the background pool, not on the main thread between two frames.
void releaseElsewhere(Queues& queues, QList<RecoveredFile>&& files) {
    if (files.isEmpty())
        return;
    queues.background([doomed = std::move(files)]() mutable { doomed = QList<RecoveredFile>(); });
}

} // namespace

QList<RecoveredFile> scanRecoveredFiles(FileSystem& fileSystem, Clock& clock, const QString& folder) {
    RecoveryFolderIndex index;
    return index.scan(fileSystem, clock, folder).value_or(QList<RecoveredFile>());
}

void RecoveryViewModel::startFileMonitor(const QString& watchedFolder) {
    auto strong = weak_from_this().lock();
    if (!strong)
        return;
    platform_.queues->postMain([self = std::move(strong), watchedFolder] {
        if (self->fileMonitorTimer_)
            self->fileMonitorTimer_->stop();
        // Results of scans started for an earlier timer are no longer applied.
        ++self->monitorGeneration_;
        self->folderIndex_ = std::make_shared<RecoveryFolderIndex>();
        auto timer = std::make_unique<QTimer>();
        timer->setInterval(kMonitorIntervalMs);
        timer->setSingleShot(false);
        QObject::connect(timer.get(), &QTimer::timeout, timer.get(),
                         [weak = self->weakSelf(), watchedFolder] {
                             if (auto model = weak.lock())
                                 model->refreshRecoveredFiles(watchedFolder);
                         });
        timer->start();
        self->fileMonitorTimer_ = std::move(timer);
    });
}

void RecoveryViewModel::stopFileMonitor() {
    auto strong = weak_from_this().lock();
    if (!strong)
        return;
    platform_.queues->postMain([self = std::move(strong)] {
        if (self->fileMonitorTimer_)
            self->fileMonitorTimer_->stop();
        self->fileMonitorTimer_.reset();
        ++self->monitorGeneration_;
        // What it knew of a million files is freed off the main thread too.
        if (auto index = std::exchange(self->folderIndex_, nullptr))
            self->platform_.queues->background([doomed = std::move(index)]() mutable { doomed.reset(); });
    });
}

void RecoveryViewModel::refreshRecoveredFiles(const QString& watchedFolder) {
    if (!folderIndex_)
        folderIndex_ = std::make_shared<RecoveryFolderIndex>();
    platform_.queues->background([weak = weakSelf(), fileSystem = platform_.fileSystem,
                                  clock = platform_.clock, queues = platform_.queues, index = folderIndex_,
                                  generation = monitorGeneration_, watchedFolder] {
        if (weak.expired())
            return;
        // A scan still at work when the next tick comes will bring what that tick would.
        if (!index->tryClaim())
            return;
        std::optional<QList<RecoveredFile>> changed = index->scan(*fileSystem, *clock, watchedFolder);
        index->release();
        if (!changed)
            return; // nothing came or went: the list already shows the folder
        queues->postMain([weak, generation, files = std::move(*changed)]() mutable {
            auto self = weak.lock();
            // A tick's scan that ends after the monitor stopped would replace the final list
            // with an older one.
            if (!self || generation != self->monitorGeneration_)
                return;
            self->applyRecoveredFiles(std::move(files));
        });
    });
}

void RecoveryViewModel::applyRecoveredFiles(QList<RecoveredFile> files) {
    if (files.size() == recoveredFiles_.size()) {
        // As many files as listed: nothing changes, even if they are other ones.
        releaseElsewhere(*platform_.queues, std::move(files));
        return;
    }
    const qint64 count = files.size();
    QList<RecoveredFile> previous = recoveredFiles_;
    setRecoveredFiles(std::move(files));
    setRecoveredCount(count);
    setStatusMessage(QStringLiteral("Recovered ") + QString::number(count) + QStringLiteral(" files..."));
    // The views have let go of the old records by now.
    releaseElsewhere(*platform_.queues, std::move(previous));
}

} // namespace vellorin
