#include "workflow/RecoveryFolderIndex.h"

#include "platform/Clock.h"
#include "workflow/PathJoin.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <chrono>

#include <sys/stat.h>

namespace vellorin {

namespace {

// Longer than the coarsest clock a save location's file system keeps (two seconds on FAT):
// a folder changed within this of its listing may have changed again, unseen, in the same tick.
constexpr std::int64_t kSettledAfterMs = 3000;

std::int64_t milliseconds(const struct timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000 + time.tv_nsec / 1'000'000;
}

std::int64_t realTimeMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

void RecoveryFolderIndex::list(FileSystem& fileSystem, const QString& path, const QString& relative,
                               Folder& folder, const Folder* previous, std::int64_t scanMs) {
    class Visitor final : public FolderVisitor {
      public:
        Visitor(FileSystem& fileSystem, QString folderPath, const QString& relative, const Folder* previous,
                std::int64_t scanMs, const QDateTime& scanMoment, Folder& folder, std::vector<Entry>& added,
                std::vector<bool>& kept)
            : fileSystem_(fileSystem), folderPath_(std::move(folderPath)), relative_(relative),
              previous_(previous), scanMs_(scanMs), scanMoment_(scanMoment), folder_(folder), added_(added),
              kept_(kept) {
            if (previous_) {
                byName_.reserve(static_cast<qsizetype>(previous_->files.size()));
                for (std::size_t i = 0; i < previous_->files.size(); ++i)
                    byName_.insert(previous_->files[i].nameHash, i);
            }
        }

        void visitFile(const WalkEntry& entry) override {
            // A link is listed as what it points to, like any file: a link to a folder or a
            // dangling link is no recovered file.
            auto info = entry.isSymlink ? fileSystem_.statLinkTarget(entry) : fileSystem_.statEntry(entry);
            const auto* stat = std::get_if<EntryStat>(&info);
            if (!stat || !S_ISREG(stat->mode))
                return;
            const std::size_t nameHash = qHash(QByteArrayView(entry.name), 0);
            if (previous_) {
                const auto known = byName_.constFind(nameHash);
                if (known != byName_.cend()) {
                    const Known& before = previous_->files[*known];
                    if (before.size == stat->size &&
                        (!stat->hasBirthTime || before.sortKey == stat->birthTimeMs)) {
                        kept_[*known] = true;
                        folder_.files.push_back(before);
                        return;
                    }
                }
            }
            const std::int64_t key = stat->hasBirthTime ? stat->birthTimeMs : scanMs_;
            const QDateTime date =
                stat->hasBirthTime ? QDateTime::fromMSecsSinceEpoch(key, Qt::UTC) : scanMoment_;
            RecoveredFile file =
                RecoveredFile::inFolder(folderPath_, QFile::decodeName(entry.name), stat->size, date);
            folder_.files.push_back(Known{nameHash, stat->size, key, file.id()});
            added_.push_back(Entry{std::move(file), key});
        }

        void visitFolder(const char* name) override {
            folder_.folders.append(joinPath(relative_, QFile::decodeName(name)));
        }

      private:
        FileSystem& fileSystem_;
        QString folderPath_;
        const QString& relative_;
        const Folder* previous_;
        std::int64_t scanMs_;
        const QDateTime& scanMoment_;
        Folder& folder_;
        std::vector<Entry>& added_;
        std::vector<bool>& kept_;
        QHash<std::size_t, std::size_t> byName_;
    };

    std::vector<bool> kept(previous ? previous->files.size() : 0, false);
    folder.listedAtMs = realTimeMs();
    Visitor visitor(fileSystem, path, relative, previous, scanMs, scanMoment_, folder, added_, kept);
    const auto listed = fileSystem.listFolder(path, visitor);
    folder.files.shrink_to_fit();
    if (const auto* stamp = std::get_if<FolderStamp>(&listed)) {
        folder.stamp = *stamp;
    } else {
        // Unreadable parts are passed over; listed again at the next scan.
        folder.stamp = FolderStamp{};
    }
    for (std::size_t i = 0; i < kept.size(); ++i)
        if (!kept[i])
            removed_.push_back(previous->files[i].id);
}

std::optional<QList<RecoveredFile>> RecoveryFolderIndex::scan(FileSystem& fileSystem, Clock& clock,
                                                              const QString& folder) {
    if (folder != root_) {
        root_ = folder;
        folders_.clear();
        listing_.clear();
        keys_.clear();
        scanned_ = false;
    }
    scanMoment_ = clock.now();
    const std::int64_t scanMs = scanMoment_.toMSecsSinceEpoch();
    added_.clear();
    removed_.clear();

    QHash<QString, Folder> seen;
    seen.reserve(folders_.size());
    QStringList pending{QString()};
    while (!pending.isEmpty()) {
        const QString relative = pending.takeLast();
        const QString path = joinPath(root_, relative);
        auto previous = folders_.find(relative);
        const std::optional<FolderStamp> stamp = fileSystem.folderStamp(path);
        if (!stamp)
            continue; // gone: what it held is dropped below
        Folder current;
        if (previous != folders_.end() && previous->stamp == *stamp &&
            milliseconds(stamp->modified) + kSettledAfterMs < previous->listedAtMs &&
            milliseconds(stamp->changed) + kSettledAfterMs < previous->listedAtMs) {
            current = std::move(*previous);
        } else {
            list(fileSystem, path, relative, current, previous != folders_.end() ? &*previous : nullptr,
                 scanMs);
        }
        if (previous != folders_.end())
            folders_.erase(previous);
        // Walked in the order they were met.
        for (auto inside = current.folders.crbegin(); inside != current.folders.crend(); ++inside)
            pending.append(*inside);
        seen.emplace(relative, std::move(current));
    }
    // Folders not met again are gone, with every file they held.
    for (const Folder& gone : std::as_const(folders_))
        for (const Known& known : gone.files)
            removed_.push_back(known.id);
    folders_ = std::move(seen);

    if (scanned_ && added_.empty() && removed_.empty())
        return std::nullopt;
    scanned_ = true;

    QList<RecoveredFile> kept;
    std::vector<std::int64_t> keptKeys;
    if (removed_.empty()) {
        kept = std::move(listing_);
        keptKeys = std::move(keys_);
    } else {
        const QSet<QUuid> removed(removed_.cbegin(), removed_.cend());
        kept.reserve(listing_.size());
        keptKeys.reserve(keys_.size());
        for (qsizetype i = 0; i < listing_.size(); ++i)
            if (!removed.contains(listing_.at(i).id())) {
                kept.append(listing_.at(i));
                keptKeys.push_back(keys_[static_cast<std::size_t>(i)]);
            }
    }

    // Newest first; equal dates in the order met, files listed before first.
    std::stable_sort(added_.begin(), added_.end(),
                     [](const Entry& a, const Entry& b) { return a.sortKey > b.sortKey; });
    listing_ = QList<RecoveredFile>();
    listing_.reserve(kept.size() + static_cast<qsizetype>(added_.size()));
    keys_.clear();
    keys_.reserve(keptKeys.size() + added_.size());
    std::size_t fromKept = 0;
    std::size_t fromAdded = 0;
    if (!added_.empty() && (keptKeys.empty() || added_.back().sortKey > keptKeys.front())) {
        // What the engine has just written, all of it newer than the rest: no merging.
        for (Entry& entry : added_) {
            listing_.append(std::move(entry.file));
            keys_.push_back(entry.sortKey);
        }
        listing_.append(kept);
        keys_.insert(keys_.end(), keptKeys.cbegin(), keptKeys.cend());
        fromAdded = added_.size();
        fromKept = keptKeys.size();
    }
    while (fromKept < keptKeys.size() || fromAdded < added_.size()) {
        const bool takeAdded = fromKept == keptKeys.size() ||
                               (fromAdded < added_.size() && added_[fromAdded].sortKey > keptKeys[fromKept]);
        if (takeAdded) {
            listing_.append(std::move(added_[fromAdded].file));
            keys_.push_back(added_[fromAdded].sortKey);
            ++fromAdded;
        } else {
            listing_.append(kept.at(static_cast<qsizetype>(fromKept)));
            keys_.push_back(keptKeys[fromKept]);
            ++fromKept;
        }
    }
    added_.clear();
    removed_.clear();
    return listing_;
}

} // namespace vellorin
