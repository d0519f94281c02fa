#include "platform/Folders.h"

#include <QDir>
#include <QStandardPaths>

namespace vellorin {

std::optional<QString> StandardFolders::userDataFolder() {
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (path.isEmpty() || !QDir().mkpath(path))
        return std::nullopt;
    return path;
}

QString StandardFolders::temporaryFolder() {
    return QDir::tempPath();
}

} // namespace vellorin
