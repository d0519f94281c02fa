#pragma once

#include "platform/FileSystem.h"
#include "workflow/RecoveredFile.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace vellorin {

class Clock;

// What the output-folder monitor knows of a recovery folder between two ticks, so that a tick
// over a million files costs what changed, not the whole tree. The engine only adds files,
// five hundred to a numbered folder: a folder whose stamp has not moved since it was listed,
// and was not changing when it was, holds the files it held, and only its stamp is read. Every
// other folder, the newest among them, is listed again.
//
// The list is what one walk of the folder would give: every regular file below it, what links
// point to included, hidden files and folders left out, newest first by creation date, equal
// dates in the order they were met. A file whose file system keeps no creation date is dated
// by the scan that first found it. A file keeps its record, and its id, while its name, size
// and date stay the same.
//
// One scan at a time: scan() from one thread, or from several never at once.
class RecoveryFolderIndex {
  public:
    // The whole list when it changed since the last scan (the first scan always gives one);
    // none when nothing changed. A missing folder lists nothing.
    std::optional<QList<RecoveredFile>> scan(FileSystem& fileSystem, Clock& clock, const QString& folder);

    // Claims the index for one scan; false while another holds it.
    bool tryClaim() { return !busy_.exchange(true); }
    void release() { busy_.store(false); }

  private:
    struct Entry {
        RecoveredFile file;
        std::int64_t sortKey; // the creation date in ms since the epoch
    };
    // A listed file as a folder remembers it: small, as there may be a million of them; the
    // record itself is in the listing.
    struct Known {
        std::size_t nameHash;
        std::int64_t size;
        std::int64_t sortKey;
        QUuid id;
    };
    struct Folder {
        FolderStamp stamp;
        // When it was listed, by the clock of the files' own times: a stamp this close to it
        // may hide a change made in the same tick of the file system's clock.
        std::int64_t listedAtMs = 0;
        std::vector<Known> files;
        QStringList folders; // relative paths of the folders inside
    };

    void list(FileSystem& fileSystem, const QString& path, const QString& relative, Folder& folder,
              const Folder* previous, std::int64_t scanMs);

    QString root_;
    QHash<QString, Folder> folders_; // by path relative to the recovery folder ("" for itself)
    QList<RecoveredFile> listing_;   // newest first
    std::vector<std::int64_t> keys_; // listing_'s sort keys
    bool scanned_ = false;
    std::atomic<bool> busy_{false};
    // Per scan: its moment, and what came and went.
    QDateTime scanMoment_;
    std::vector<Entry> added_;
    std::vector<QUuid> removed_;
};

} // namespace vellorin
