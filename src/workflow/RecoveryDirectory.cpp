#include "workflow/PathJoin.h"
#include "workflow/ViewController.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Folders.h"
#include "platform/Queues.h"

namespace vellorin {

std::optional<QString> RecoveryViewModel::prepareRecoveryDirectory(const QString& savePath) {
    const QString recoveryDirectory = joinPath(savePath, QStringLiteral("recovered_files"));

    if (!checkWritePermission(savePath)) {
        appendLog(QStringLiteral("Write test failed at: ") + savePath);
        platform_.queues->postMain([weak = weakSelf()] {
            if (auto self = weak.lock()) {
                self->setStatusMessage(QStringLiteral("No write permission for save path"));
                self->setStatusColor(StatusColor::Red);
                self->setIsRecovering(false);
            }
        });
        showAlert(QStringLiteral("No Permission"),
                  QStringLiteral("Cannot write to the selected save location.\nPlease choose another folder "
                                 "(e.g. Documents/External Drive) and allow access when prompted."));
        return std::nullopt;
    }

    const auto created = platform_.fileSystem->createDirectories(recoveryDirectory);
    if (!created) {
        appendLog(QStringLiteral("Creating recovery directory: ") + recoveryDirectory);
        return recoveryDirectory;
    }

    appendLog(QStringLiteral("Failed to create directory: ") + created->description);
    if (auto fallback = makeFallbackDirectory()) {
        appendLog(QStringLiteral("Using fallback recovery path: ") + *fallback);
        platform_.queues->postMain([weak = weakSelf()] {
            if (auto self = weak.lock()) {
                self->setStatusMessage(QStringLiteral("Permission denied, using fallback path"));
                self->setStatusColor(StatusColor::Orange);
            }
        });
        return fallback;
    }
    failRecovery(*created);
    return std::nullopt;
}

bool RecoveryViewModel::checkWritePermission(const QString& savePath) {
    const QString probe = joinPath(savePath, QStringLiteral(".vellorin_write_test"));
    auto failure = platform_.fileSystem->writeAtomically(probe, QByteArrayLiteral("test"));
    if (!failure)
        failure = platform_.fileSystem->removeItem(probe);
    if (!failure)
        return true;
    appendLog(QStringLiteral("Write permission check failed: ") + failure->description);
    return false;
}

std::optional<QString> RecoveryViewModel::makeFallbackDirectory() {
    const QString base = platform_.folders->userDataFolder().value_or(platform_.folders->temporaryFolder());
    const qint64 seconds = platform_.clock->now().toSecsSinceEpoch();
    // The temporary folder is shared: a "Vellorin" there that another user made, or a link,
    // could send the files anywhere, so such a one is passed over for the next name.
    const std::optional<Error> unusableBase = platform_.fileSystem->createDirectories(base);
    std::optional<Error> failure = unusableBase;
    QString folder;
    QString directory;
    for (int candidate = 0; !unusableBase && candidate < kFallbackCandidates; ++candidate) {
        const QString own = candidate == 0 ? QStringLiteral("Vellorin")
                                           : QStringLiteral("Vellorin-") + QString::number(candidate);
        folder = joinPath(joinPath(base, own), QStringLiteral("Recovery-") + QString::number(seconds));
        directory = joinPath(folder, QStringLiteral("recovered_files"));
        failure = platform_.fileSystem->createPrivateDirectory(joinPath(base, own));
        if (!failure)
            failure = platform_.fileSystem->createPrivateDirectory(folder);
        if (!failure)
            failure = platform_.fileSystem->createPrivateDirectory(directory);
        if (!failure)
            break;
    }
    if (failure) {
        appendLog(QStringLiteral("Fallback path creation failed: ") + failure->description);
        return std::nullopt;
    }
    showAlert(QStringLiteral("Using Fallback Save Path"),
              QStringLiteral("The selected location is not writable.\nFiles will be saved to:\n") + folder +
                  QStringLiteral("\nYou can move them later."));
    return directory;
}

} // namespace vellorin
