#include "platform/desktop/DesktopWorkspace.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrl>

#include <algorithm>

namespace vellorin {

void DesktopWorkspace::openFolder(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool DesktopWorkspace::opensSafely(const QString& mimeType, const QStringList& parents) {
    static const QStringList kRunnable{
        QStringLiteral("application/x-executable"),
        QStringLiteral("application/x-sharedlib"),
        QStringLiteral("application/x-pie-executable"),
        QStringLiteral("application/x-desktop"),
        QStringLiteral("application/x-shellscript"),
        QStringLiteral("application/x-msdownload"),
        QStringLiteral("application/x-ms-dos-executable"),
        QStringLiteral("application/x-executable-script"),
        QStringLiteral("application/vnd.debian.binary-package"),
        QStringLiteral("application/x-rpm"),
        QStringLiteral("application/x-java-archive"),
        QStringLiteral("application/x-perl"),
        QStringLiteral("text/x-python"),
        QStringLiteral("text/x-python3"),
        QStringLiteral("application/x-python-code"),
        QStringLiteral("application/x-ruby"),
        QStringLiteral("application/javascript"),
        QStringLiteral("text/javascript"),
        QStringLiteral("application/x-appimage"),
        QStringLiteral("application/x-flatpak"),
        QStringLiteral("application/x-msi"),
        QStringLiteral("application/x-bat"),
    };
    if (mimeType.isEmpty() || kRunnable.contains(mimeType))
        return false;
    return std::none_of(parents.cbegin(), parents.cend(),
                        [](const QString& parent) { return kRunnable.contains(parent); });
}

void DesktopWorkspace::openFile(const QString& path) {
    // Told by content and by name both: a launcher named ".jpg" is still a launcher.
    const QMimeDatabase database;
    bool safe = true;
    for (const QMimeType& type : {database.mimeTypeForFile(path, QMimeDatabase::MatchContent),
                                  database.mimeTypeForFile(path, QMimeDatabase::MatchExtension)})
        if (type.isValid() && !type.isDefault())
            safe = safe && opensSafely(type.name(), type.allAncestors());
    if (!safe) {
        revealFile(path);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void DesktopWorkspace::revealFile(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    // A URI proper: spaces and non-ASCII letters percent-encoded, or file managers that parse
    // strictly cannot find a recovered file with such a name.
    call << QStringList{QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded())} << QString();
    // Asynchronous, so a slow or absent file manager never blocks the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [folder](QDBusPendingCallWatcher* w) {
                         if (w->isError())
                             QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
                         w->deleteLater();
                     });
}

} // namespace vellorin
