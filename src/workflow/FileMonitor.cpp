#include "workflow/PathJoin.h"
#include "workflow/RecoveredFileScan.h"
#include "workflow/ViewController.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Queues.h"

#include <QFile>
#include <QTimer>

#include <algorithm>
#include <vector>

#include <sys/stat.h>

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

class ScanVisitor final : public WalkVisitor {
  public:
    ScanVisitor(FileSystem& fileSystem, QString root) : fileSystem_(fileSystem), root_(std::move(root)) {}

    void visitFile(const WalkEntry& entry) override {
        // A link is listed as what it points to, like any file: a link to a folder or a
        // dangling link is no recovered file.
        auto info = entry.isSymlink ? fileSystem_.statLinkTarget(entry) : fileSystem_.statEntry(entry);
        const auto* stat = std::get_if<EntryStat>(&info);
        if (!stat || !S_ISREG(stat->mode))
            return;
        const QByteArray relative(entry.relativePath.data(),
                                  static_cast<qsizetype>(entry.relativePath.size()));
        found.push_back({stat->hasBirthTime, stat->birthTimeMs, stat->size, QFile::decodeName(entry.name),
                         joinPath(root_, QFile::decodeName(relative))});
    }
    void folderError(std::string_view, const Error&) override {} // unreadable parts are passed over
    void entryError(std::string_view, const Error&) override {}

    struct Found {
        bool hasBirthTime;
        std::int64_t birthTimeMs;
        std::int64_t size;
        QString name;
        QString path;
    };
    std::vector<Found> found;

  private:
    FileSystem& fileSystem_;
    QString root_;
};

} // namespace

QList<RecoveredFile> scanRecoveredFiles(FileSystem& fileSystem, Clock& clock, const QString& folder) {
    ScanVisitor visitor(fileSystem, folder);
    if (fileSystem.walk(folder, WalkOptions{}, visitor))
        return {}; // a missing or unreadable folder lists nothing
    const QDateTime scanMoment = clock.now();
    const std::int64_t scanMs = scanMoment.toMSecsSinceEpoch();

    // Sort small keys, not records: newest first, a stable sort keeps the walk's order for ties.
    std::vector<std::pair<std::int64_t, std::size_t>> order;
    order.reserve(visitor.found.size());
    for (std::size_t i = 0; i < visitor.found.size(); ++i) {
        const auto& file = visitor.found[i];
        order.emplace_back(file.hasBirthTime ? file.birthTimeMs : scanMs, i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });

    QList<RecoveredFile> files;
    files.reserve(static_cast<qsizetype>(order.size()));
    for (const auto& [ms, index] : order) {
        auto& file = visitor.found[index];
        const QDateTime date = file.hasBirthTime ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC) : scanMoment;
        files.append(RecoveredFile(std::move(file.name), std::move(file.path), file.size, date));
    }
    return files;
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
    });
}

void RecoveryViewModel::refreshRecoveredFiles(const QString& watchedFolder) {
    platform_.queues->background([weak = weakSelf(), fileSystem = platform_.fileSystem,
                                  clock = platform_.clock, queues = platform_.queues,
                                  generation = monitorGeneration_, watchedFolder] {
        if (weak.expired())
            return;
        QList<RecoveredFile> files = scanRecoveredFiles(*fileSystem, *clock, watchedFolder);
        queues->postMain([weak, generation, files = std::move(files)]() mutable {
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
