#pragma once

#include "platform/Error.h"
#include "platform/WalkEntry.h"

#include <QByteArray>
#include <QString>

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
    // A folder below the root that could not be opened; the walk goes on without it.
    virtual void folderError(std::string_view relativePath, const Error& error) = 0;
    // An entry whose kind could not be read; it is left out.
    virtual void entryError(std::string_view relativePath, const Error& error) = 0;
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
    // Creates the folder and any missing parents; an existing folder is success.
    virtual std::optional<Error> createDirectories(const QString& path) = 0;
    virtual std::optional<Error> removeItem(const QString& path) = 0;
    // Writes through a temporary file renamed into place.
    virtual std::optional<Error> writeAtomically(const QString& path, const QByteArray& data) = 0;
    virtual std::optional<FileId> fileId(const QString& path) = 0;

    // Access to a folder the user picked: granted when it exists and may be read and entered.
    virtual bool startAccessing(const QString& path) = 0;
    virtual void stopAccessing(const QString& path) = 0;

    // Walks every folder below root, depth first, never following a link to a folder, never
    // entering hidden folders or kernel pseudo file systems. Returns an error when the root
    // itself cannot be opened as a folder.
    virtual std::optional<Error> walk(const QString& root, const WalkOptions& options,
                                      WalkVisitor& visitor) = 0;
    virtual std::variant<EntryStat, Error> statEntry(const WalkEntry& entry) = 0;
};

} // namespace vellorin
