#include "platform/ExecutableResources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace vellorin {

std::optional<QString> ExecutableResources::resourceFolder() {
    const QString executableFolder = QCoreApplication::applicationDirPath();
    if (executableFolder.isEmpty())
        return std::nullopt;
    const QString folder = QDir::cleanPath(executableFolder + QStringLiteral("/../share/vellorin"));
    if (!QFileInfo(folder).isDir())
        return std::nullopt;
    return folder;
}

} // namespace vellorin
