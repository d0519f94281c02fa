#pragma once

#include "platform/FileSystem.h"

namespace vellorin {

class PosixFileSystem : public FileSystem {
  public:
    bool exists(const QString& path) override;
    bool isReadable(const QString& path) override;
    bool isDirectory(const QString& path) override;
    std::optional<Error> createDirectories(const QString& path) override;
    std::optional<Error> createPrivateDirectory(const QString& path) override;
    std::optional<Error> removeItem(const QString& path) override;
    std::optional<Error> writeAtomically(const QString& path, const QByteArray& data) override;
    std::variant<QByteArray, Error> readSmallFile(const QString& path, qint64 limit) override;
    std::optional<FileId> fileId(const QString& path) override;
    QStringList childFolders(const QString& path) override;
    std::variant<QByteArray, Error> contentDigest(const QString& path) override;
    std::variant<bool, Error> sameContent(const QString& first, const QString& second) override;
    std::variant<QByteArray, Error> fastDigest(const QString& path) override;
    std::variant<QByteArray, Error> readHead(const QString& path, qint64 limit) override;
    std::optional<Error> moveItem(const QString& from, const QString& to) override;
    std::optional<Error> removeEmptyFolder(const QString& path) override;
    bool entryExists(const QString& path) override;
    bool startAccessing(const QString& path) override;
    void stopAccessing(const QString& path) override;
    std::optional<Error> walk(const QString& root, const WalkOptions& options, WalkVisitor& visitor) override;
    std::optional<FolderStamp> folderStamp(const QString& path) override;
    std::variant<FolderStamp, Error> listFolder(const QString& path, FolderVisitor& visitor) override;
    std::variant<EntryStat, Error> statEntry(const WalkEntry& entry) override;
    std::variant<EntryStat, Error> statLinkTarget(const WalkEntry& entry) override;
    std::unique_ptr<TreeCopier> makeCopier(const QString& destinationRoot) override;
    void removeLeftoverCopies(const QString& folder, const QDateTime& notAfter) override;
};

// Encodes a display path to the file system's bytes.
std::string nativePath(const QString& path);

} // namespace vellorin
