#include "workflow/Questions.h"
#include "workflow/ViewController.h"

#include "platform/Alerts.h"
#include "platform/FileSystem.h"
#include "platform/Queues.h"
#include "platform/Workspace.h"

namespace vellorin {

void RecoveryViewModel::completeRecovery(int exitStatus, const QString& recoveryDirectory) {
    platform_.queues->postMain([weak = weakSelf(), alerts = platform_.alerts, workspace = platform_.workspace,
                                exitStatus, recoveryDirectory] {
        if (auto self = weak.lock()) {
            self->setIsRecovering(false);
            self->setProgress({});
        }
        if (auto self = weak.lock())
            self->recoveryProcess_.reset(); // dropped only; quitting never signals the engine
        if (exitStatus != 0) {
            if (auto self = weak.lock()) {
                self->appendLog(QStringLiteral("Error occurred during recovery (Exit code: ") +
                                QString::number(exitStatus) + QLatin1Char(')'));
                self->setStatusMessage(QStringLiteral("Recovery failed, check logs"));
                self->setStatusColor(StatusColor::Red);
                self->releaseSecurityScopedAccess();
            }
            return;
        }
        if (auto self = weak.lock()) {
            self->appendLog(QStringLiteral("Data recovery completed!"));
            self->appendLog(QStringLiteral("Recovered files saved in: ") + recoveryDirectory);
            self->setStatusMessage(QStringLiteral("Recovery Completed!"));
            self->setStatusColor(StatusColor::Green);
            self->releaseSecurityScopedAccess();
        }
        // The question needs no view model: it is asked, and answered, even after it is gone.
        const int answer = alerts->runModal(
            questions::kCompleted,
            QStringLiteral(
                "Data recovery is complete. Do you want to open the folder containing the recovered files?"),
            {QStringLiteral("Open Folder"), QStringLiteral("View Later")});
        if (answer == 0)
            workspace->openFolder(recoveryDirectory);
    });
}

void RecoveryViewModel::failRecovery(const Error& error) {
    platform_.queues->postMain([weak = weakSelf(), description = error.description] {
        auto self = weak.lock();
        if (!self)
            return;
        self->setIsRecovering(false);
        self->setProgress({});
        self->recoveryProcess_.reset();
        self->appendLog(QStringLiteral("Error starting recovery process: ") + description);
        self->setStatusMessage(QStringLiteral("Start failed: ") + description);
        self->setStatusColor(StatusColor::Red);
        self->releaseSecurityScopedAccess();
    });
}

void RecoveryViewModel::releaseSecurityScopedAccess() {
    if (sourceScopedURL_)
        platform_.fileSystem->stopAccessing(*sourceScopedURL_);
    if (outputScopedURL_)
        platform_.fileSystem->stopAccessing(*outputScopedURL_);
    sourceScopedURL_.reset();
    outputScopedURL_.reset();
}

} // namespace vellorin
