#include "workflow/PathJoin.h"
#include "workflow/RecoverableExtensions.h"
#include "workflow/RunControl.h"
#include "workflow/ViewController.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/MainThreadBatches.h"
#include "platform/Queues.h"

#include <QFile>

#include <chrono>

namespace vellorin {

namespace {

// How often copied files reach the list: often enough that each shows within a tenth of a
// second of its copy; and how many at most in one turn of the window's event loop (a few
// milliseconds of its time).
constexpr std::chrono::milliseconds kListingInterval{100};
constexpr std::size_t kMostListedAtOnce = 500;

QString display(std::string_view bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

// The source as the walk names it: no trailing "/" except for the root folder itself.
QString walkRoot(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

void RecoveryViewModel::runSimplifiedRecovery(const QString& sourcePath, const QString& recoveryDirectory) {
    appendLog(QStringLiteral("Starting to scan directory: ") + sourcePath);

    const auto failWith = [this](int code, const char* description) {
        platform_.queues->postMain([weak = weakSelf(), code, description] {
            if (auto self = weak.lock())
                self->failRecovery(Error{kErrorDomain, code, QString::fromLatin1(description)});
        });
    };
    FileSystem& fs = *platform_.fileSystem;
    if (!fs.exists(sourcePath)) {
        appendLog(QStringLiteral("Error: Source path does not exist - ") + sourcePath);
        failWith(1, "Source path does not exist");
        return;
    }
    if (!fs.isReadable(sourcePath)) {
        appendLog(QStringLiteral("Error: Source path is not readable - ") + sourcePath);
        failWith(2, "Source path is not readable");
        return;
    }

    // Everything below runs on this thread; the window hears of it only through posted blocks.
    class Walk final : public WalkVisitor {
      public:
        Walk(RecoveryViewModel& model, const QString& source, const QString& destination)
            : model_(model), weak_(model.weakSelf()), queues_(*model.platform_.queues),
              fs_(*model.platform_.fileSystem), source_(walkRoot(source)),
              copier_(fs_.makeCopier(destination)), run_(model.currentRun()) {}

        // Asked between files: the file being copied is finished (or left out) first.
        bool walkEnded() const override { return run_ && run_->stopRequested(); }
        bool stopped() const { return walkEnded(); }

        void visitFile(const WalkEntry& entry) override {
            // Every entry's properties are read before it counts as scanned, qualifying or not.
            const auto info = fs_.statEntry(entry);
            if (const auto* error = std::get_if<Error>(&info)) {
                postLog(QStringLiteral("Failed to read file info: ") + entryPath(entry.relativePath) +
                        QStringLiteral(" - ") + error->description);
                return;
            }
            const auto& stat = std::get<EntryStat>(info);
            ++scanned_;
            const bool allFiles = model_.recoverAllFiles_.load(std::memory_order_relaxed);
            if (!isRecoverableName(entry.name, allFiles)) {
                reportProgress();
                return;
            }
            const auto result = copier_->copy(entry, stat);
            switch (result.kind) {
            case TreeCopier::Result::Kind::FolderFailed:
                // A file left out must not go unnoticed; there is no progress step for it.
                postCopyFailure(entry, result.error);
                return;
            case TreeCopier::Result::Kind::CopyFailed:
                postCopyFailure(entry, result.error);
                break;
            case TreeCopier::Result::Kind::Copied: {
                recovered_->fetch_add(1, std::memory_order_relaxed);
                bytes_ += stat.size;
                reportCopyProgress();
                const QDateTime date = stat.hasBirthTime
                                           ? QDateTime::fromMSecsSinceEpoch(stat.birthTimeMs, Qt::UTC)
                                           : model_.platform_.clock->now();
                listing_->add(RecoveredFile(QFile::decodeName(entry.name), display(result.destination),
                                            stat.size, date));
                break;
            }
            }
            reportProgress();
        }

        void folderError(std::string_view relativePath, const Error& error) override {
            postLog(QStringLiteral("Enumeration error: ") + entryPath(relativePath) + QStringLiteral(" - ") +
                    error.description);
        }

        void postCopyFailure(const WalkEntry& entry, const Error& error) {
            postLog(QStringLiteral("✗ Copy failed: ") + display(entry.relativePath) + QStringLiteral(" - ") +
                    error.description);
        }

        void entryError(std::string_view relativePath, const Error& error) override {
            postLog(QStringLiteral("Failed to read file info: ") + entryPath(relativePath) +
                    QStringLiteral(" - ") + error.description);
        }

        qint64 scanned() const { return scanned_; }
        qint64 recovered() const { return recovered_->load(std::memory_order_relaxed); }
        // Every file copied so far is listed, then `then` runs on the main thread.
        void flushListing(std::function<void()> then) { listing_->flush(std::move(then)); }

      private:
        QString entryPath(std::string_view relativePath) const {
            return joinPath(source_, display(relativePath));
        }

        void postLog(QString line) {
            queues_.postMain([weak = weak_, line = std::move(line)] {
                if (auto self = weak.lock())
                    self->appendLog(line);
            });
        }

        void reportCopyProgress() {
            const auto now = std::chrono::steady_clock::now();
            if (now - lastCopyReport_ < kCopyReportInterval)
                return;
            lastCopyReport_ = now;
            model_.publishCopyProgress(recovered(), bytes_,
                                       std::chrono::duration<double>(now - started_).count());
        }

        void reportProgress() {
            if (scanned_ % 50 != 0)
                return;
            queues_.postMain([weak = weak_, count = scanned_] {
                if (auto self = weak.lock())
                    self->publishScanProgress(count);
            });
        }

        RecoveryViewModel& model_;
        std::weak_ptr<RecoveryViewModel> weak_;
        Queues& queues_;
        FileSystem& fs_;
        QString source_;
        std::unique_ptr<TreeCopier> copier_;
        qint64 scanned_ = 0;
        qint64 bytes_ = 0;
        std::shared_ptr<RunControl> run_;
        const std::chrono::milliseconds kCopyReportInterval{500};
        const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
        std::chrono::steady_clock::time_point lastCopyReport_ = started_;
        // Written here, read by the list updates on the main thread.
        std::shared_ptr<std::atomic<std::int64_t>> recovered_ =
            std::make_shared<std::atomic<std::int64_t>>(0);
        std::shared_ptr<MainThreadBatches<RecoveredFile>> listing_ = MainThreadBatches<RecoveredFile>::make(
            model_.platform_.queues, kListingInterval, kMostListedAtOnce,
            [weak = weak_, recovered = recovered_](std::vector<RecoveredFile> files) {
                if (auto self = weak.lock())
                    self->publishRecoveredFiles(std::move(files), recovered);
            });
    };

    // What a killed run left behind in this folder goes before this run writes there.
    fs.removeLeftoverCopies(recoveryDirectory, platform_.clock->now());
    Walk walk(*this, sourcePath, recoveryDirectory);
    WalkOptions options;
    // A recovery directory below the source (the fallback folder under a home folder) is
    // never walked, so the run never copies its own copies.
    options.excludedFolder = fs.fileId(recoveryDirectory);
    if (fs.walk(sourcePath, options, walk)) {
        appendLog(QStringLiteral("Error: Failed to create file enumerator"));
        failWith(3, "Failed to create file enumerator");
        return;
    }

    if (walk.stopped()) {
        walk.flushListing([weak = weakSelf(), recovered = walk.recovered()] {
            if (auto self = weak.lock())
                self->showStopped(recovered);
        });
        return;
    }
    walk.flushListing(
        [weak = weakSelf(), scanned = walk.scanned(), recovered = walk.recovered(), recoveryDirectory] {
            if (auto self = weak.lock())
                self->reportSimplifiedSummary(scanned, recovered, recoveryDirectory);
        });
}

void RecoveryViewModel::publishRecoveredFiles(std::vector<RecoveredFile> files,
                                              const std::shared_ptr<std::atomic<std::int64_t>>& recovered) {
    prependRecoveredFiles(std::move(files));
    setRecoveredCount(recovered->load(std::memory_order_relaxed));
    setStatusMessage(QStringLiteral("Recovered ") +
                     QString::number(recovered->load(std::memory_order_relaxed)) +
                     QStringLiteral(" files..."));
}

void RecoveryViewModel::publishScanProgress(qint64 count) {
    setScannedCount(count);
}

void RecoveryViewModel::reportSimplifiedSummary(qint64 scanned, qint64 recovered,
                                                const QString& recoveryDirectory) {
    appendLog(QStringLiteral("Scan completed!"));
    appendLog(QStringLiteral("Total scanned ") + QString::number(scanned) + QStringLiteral(" files"));
    appendLog(QStringLiteral("Successfully recovered ") + QString::number(recovered) +
              QStringLiteral(" files"));
    setScannedCount(scanned);
    if (recovered >= 1) {
        completeRecovery(0, recoveryDirectory);
        return;
    }
    appendLog(QStringLiteral("No recoverable files found"));
    setStatusMessage(QStringLiteral("No recoverable files found"));
    setIsRecovering(false);
    // This ending gives the folders back too; nothing else would until the next choice.
    releaseSecurityScopedAccess();
}

} // namespace vellorin
