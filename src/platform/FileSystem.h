#pragma once

#include "platform/Error.h"
#include "platform/TreeCopier.h"
#include "platform/WalkEntry.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vellorin {

// Receives what a walk finds, on the walking thread.
class WalkVisitor {
  public:
    virtual ~WalkVisitor() = default;
    // A regular file or a symbolic link whose name does not begin with ".".
    virtual void visitFile(const WalkEntry& entry) = 0;
    // A folder below the root that could not be opened, or one whose listing broke off
    // (relativePath empty for the root itself); the walk goes on with the next folder.
    virtual void folderError(std::string_view relativePath, const Error& error) = 0;
    // An entry whose kind could not be read; it is left out.
    virtual void entryError(std::string_view relativePath, const Error& error) = 0;
    // Asked before each entry: true ends the walk there, as if it had been walked to its end.
    virtual bool walkEnded() const { return false; }
};

// Receives one folder's visible entries, on the listing thread.
class FolderVisitor {
  public:
    virtual ~FolderVisitor() = default;
    // A regular file or a symbolic link whose name does not begin with "."; relativePath is
    // the name alone.
    virtual void visitFile(const WalkEntry& entry) = 0;
    // A folder inside, not a link, whose name does not begin with ".".
    virtual void visitFolder(const char* name) = 0;
};

// A folder's identity and the last change to its list of entries: a file added, removed or
// renamed in it changes both times.
struct FolderStamp {
    FileId id;
    struct timespec modified {};
    struct timespec changed {};
    bool operator==(const FolderStamp& other) const {
        return id == other.id && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec && changed.tv_sec == other.changed.tv_sec &&
               changed.tv_nsec == other.changed.tv_nsec;
    }
};

struct WalkOptions {
    // A folder the walk never enters (the folder that receives the copies).
    std::optional<FileId> excludedFolder;
};

// The file operations the workflow needs. Paths given as QString are converted to the
// file system's bytes with QFile::encodeName.
class FileSystem {
  public:
    virtual ~FileSystem() = default;

    virtual bool exists(const QString& path) = 0;
    virtual bool isReadable(const QString& path) = 0;
    // A folder, or a link to one.
    virtual bool isDirectory(const QString& path) = 0;
    // Creates the folder and any missing parents; an existing folder is success.
    virtual std::optional<Error> createDirectories(const QString& path) = 0;
    // Creates one folder, in a parent that exists, that only this user may enter (0700). An
    // existing one is used only when it is a folder of this user's and not a link.
    virtual std::optional<Error> createPrivateDirectory(const QString& path) = 0;
    virtual std::optional<Error> removeItem(const QString& path) = 0;
    // Writes through a temporary file renamed into place.
    virtual std::optional<Error> writeAtomically(const QString& path, const QByteArray& data) = 0;
    // The whole of a small regular file, never read through a link; an error above limit bytes.
    virtual std::variant<QByteArray, Error> readSmallFile(const QString& path, qint64 limit) = 0;
    virtual std::optional<FileId> fileId(const QString& path) = 0;
    // The folders directly inside path, by name, links left out; none when it cannot be read.
    virtual QStringList childFolders(const QString& path) = 0;
    // A BLAKE2b-256 digest of a regular file's content; a link is not followed.
    virtual std::variant<QByteArray, Error> contentDigest(const QString& path) = 0;
    // Whether two regular files hold the same bytes, read side by side; links are not followed.
    virtual std::variant<bool, Error> sameContent(const QString& first, const QString& second) = 0;
    // A fast 128-bit digest (XXH3) of a regular file's content, to find files that may be the
    // same; a link is not followed. Not for telling files apart from a hostile writer's.
    virtual std::variant<QByteArray, Error> fastDigest(const QString& path) = 0;
    // At most limit bytes from the start of a regular file, never read through a link.
    virtual std::variant<QByteArray, Error> readHead(const QString& path, qint64 limit) = 0;
    // Renames an item within one file system; never replaces anything at the destination.
    virtual std::optional<Error> moveItem(const QString& from, const QString& to) = 0;
    // Removes a folder only when it is empty (and not a link).
    virtual std::optional<Error> removeEmptyFolder(const QString& path) = 0;
    // Whether anything, a dangling link too, has this name.
    virtual bool entryExists(const QString& path) = 0;

    // Access to a folder the user picked: granted when it exists and may be read and entered.
    virtual bool startAccessing(const QString& path) = 0;
    virtual void stopAccessing(const QString& path) = 0;

    // Walks every folder below root, depth first, never following a link to a folder, never
    // entering hidden folders or kernel pseudo file systems. Returns an error when the root
    // itself cannot be opened as a folder.
    virtual std::optional<Error> walk(const QString& root, const WalkOptions& options,
                                      WalkVisitor& visitor) = 0;
    // The folder's stamp, of the folder itself, not of what a link points to; none when it
    // is gone or not a folder.
    virtual std::optional<FolderStamp> folderStamp(const QString& path) = 0;
    // One folder's visible entries, not those of the folders inside it; the stamp is read
    // before the entries, so that a change made while they are read shows in the next stamp.
    // A folder on a kernel pseudo file system lists nothing.
    virtual std::variant<FolderStamp, Error> listFolder(const QString& path, FolderVisitor& visitor) = 0;
    virtual std::variant<EntryStat, Error> statEntry(const WalkEntry& entry) = 0;
    // The entry's properties, of the item a link points to when it is a link.
    virtual std::variant<EntryStat, Error> statLinkTarget(const WalkEntry& entry) = 0;

    // Copies walked entries below destinationRoot; one copier serves one run, on one thread.
    virtual std::unique_ptr<TreeCopier> makeCopier(const QString& destinationRoot) = 0;
    // Removes what an interrupted copy into the folder left behind: our own temporary files
    // at any depth, regular files modified no later than notAfter, and nothing else.
    virtual void removeLeftoverCopies(const QString& folder, const QDateTime& notAfter) = 0;
};

} // namespace vellorin
