#include "platform/StartFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace vellorin {

QString sourceStartFolder() {
    const QString user = qEnvironmentVariable("USER");
    QStringList candidates{QStringLiteral("/Volumes")};
    if (!user.isEmpty()) {
        candidates << QStringLiteral("/run/media/") + user << QStringLiteral("/media/") + user;
    }
    candidates << QStringLiteral("/media") << QStringLiteral("/mnt");
    for (const QString& folder : candidates) {
        if (QFileInfo(folder).isDir())
            return folder;
    }
    return homeFolder();
}

QString homeFolder() {
    return QDir::homePath();
}

} // namespace vellorin
