#include "workflow/CarvedCopies.h"

#include "workflow/PathJoin.h"
#include "workflow/RecoveredFileScan.h"

#include "platform/FileSystem.h"

#include <QHash>

#include <algorithm>
#include <optional>
#include <variant>

namespace vellorin {

namespace {

// Digests computed once each, only where several restored files share a size.
class Digests {
  public:
    explicit Digests(FileSystem& fileSystem) : fileSystem_(fileSystem) {}
    std::optional<QByteArray> of(const QString& path) {
        if (auto known = known_.constFind(path); known != known_.constEnd())
            return *known;
        auto digest = fileSystem_.contentDigest(path);
        const auto* value = std::get_if<QByteArray>(&digest);
        if (!value)
            return std::nullopt;
        known_.insert(path, *value);
        return *value;
    }

  private:
    FileSystem& fileSystem_;
    QHash<QString, QByteArray> known_;
};

} // namespace

QSet<QString> CarvedCopies::engineFolders(FileSystem& fileSystem, const QString& recoveryDirectory) {
    QSet<QString> folders;
    for (const QString& name : fileSystem.childFolders(recoveryDirectory))
        if (name.startsWith(QStringLiteral("recup_dir.")))
            folders.insert(name);
    return folders;
}

qint64 CarvedCopies::remove(FileSystem& fileSystem, Clock& clock, const QString& recoveryDirectory,
                            const QSet<QString>& foldersBefore, const QList<NamesStep::Restored>& restored) {
    if (restored.isEmpty())
        return 0;
    QMultiHash<qint64, QString> restoredBySize;
    for (const NamesStep::Restored& file : restored)
        restoredBySize.insert(file.size, file.path);

    Digests digests(fileSystem);
    qint64 removed = 0;
    for (const QString& folder : engineFolders(fileSystem, recoveryDirectory)) {
        if (foldersBefore.contains(folder))
            continue;
        for (const RecoveredFile& file :
             scanRecoveredFiles(fileSystem, clock, joinPath(recoveryDirectory, folder))) {
            const QList<QString> sameSize = restoredBySize.values(file.size());
            if (sameSize.isEmpty())
                continue;
            bool copy = false;
            if (sameSize.size() == 1) {
                // The usual case, one file of that size: read side by side, exact and twice as
                // fast as a digest of each.
                const auto same = fileSystem.sameContent(file.path(), sameSize.first());
                copy = std::holds_alternative<bool>(same) && std::get<bool>(same);
            } else if (const std::optional<QByteArray> digest = digests.of(file.path())) {
                copy = std::any_of(sameSize.begin(), sameSize.end(),
                                   [&](const QString& original) { return digests.of(original) == digest; });
            }
            if (copy && !fileSystem.removeItem(file.path()))
                ++removed;
        }
    }
    return removed;
}

} // namespace vellorin
