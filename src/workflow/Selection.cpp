#include "workflow/ViewController.h"

#include "platform/BlockDevices.h"
#include "platform/FileSystem.h"
#include "platform/Panels.h"
#include "platform/Queues.h"
#include "platform/StartFolders.h"
#include "workflow/SaveLocationGuard.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace vellorin {

namespace {

// Tilde expansion, no empty or "." components, ".." resolved in absolute paths, no trailing
// "/", and a leading /private dropped where the shorter path names an existing item.
QString standardizedPath(const QString& path) {
    QString expanded = path;
    if (expanded == QStringLiteral("~") || expanded.startsWith(QStringLiteral("~/")))
        expanded = QDir::homePath() + expanded.mid(1);
    const bool absolute = expanded.startsWith(QLatin1Char('/'));
    QStringList kept;
    for (const QString& component : expanded.split(QLatin1Char('/'))) {
        if (component.isEmpty() || component == QStringLiteral("."))
            continue;
        if (absolute && component == QStringLiteral("..")) {
            if (!kept.isEmpty())
                kept.removeLast();
            continue;
        }
        kept.append(component);
    }
    QString result = (absolute ? QStringLiteral("/") : QString()) + kept.join(QLatin1Char('/'));
    if (result.isEmpty())
        result = expanded.isEmpty() ? QString() : QStringLiteral(".");
    if (result.startsWith(QStringLiteral("/private/")) && QFileInfo::exists(result.mid(8)))
        result = result.mid(8);
    return result;
}

// The path with every symbolic link resolved: the deepest part that exists, made canonical,
// with the rest appended. Empty when not even "/" resolves.
QString resolvedPath(const QString& path) {
    QString existing = standardizedPath(path);
    if (!existing.startsWith(QLatin1Char('/')))
        return {};
    QStringList rest;
    while (!QFileInfo::exists(existing) && existing != QStringLiteral("/")) {
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        rest.prepend(existing.mid(slash + 1));
        existing = slash == 0 ? QStringLiteral("/") : existing.left(slash);
    }
    QString canonical = QFileInfo(existing).canonicalFilePath();
    if (canonical.isEmpty())
        return {};
    for (const QString& component : rest)
        canonical += (canonical.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + component;
    return canonical;
}

QString withSlash(const QString& path) {
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

// Equal, or one inside the other; canonically equivalent Unicode counts as equal.
bool nested(const QString& source, const QString& save) {
    const QString s = source.normalized(QString::NormalizationForm_C);
    const QString v = save.normalized(QString::NormalizationForm_C);
    return s == v || v.startsWith(withSlash(s)) || s.startsWith(withSlash(v));
}

} // namespace

void RecoveryViewModel::selectSourceLocation() {
    const PanelRequest request{QStringLiteral("Select Data Source Location (Where to recover data from)"),
                               sourceStartFolder(),
                               false,
                               {}};
    platform_.panels->chooseFolder(request, [weak = weakSelf()](std::optional<QString> chosen) {
        if (auto self = weak.lock())
            self->handleSourcePanelResult(chosen);
    });
}

void RecoveryViewModel::handleSourcePanelResult(const std::optional<QString>& chosenPath) {
    if (!chosenPath)
        return; // cancelled: no line, no change
    if (sourceScopedURL_)
        platform_.fileSystem->stopAccessing(*sourceScopedURL_);
    if (platform_.fileSystem->startAccessing(*chosenPath))
        sourceScopedURL_ = *chosenPath;
    else
        appendLog(QStringLiteral("Warning: Failed to get access to selected source"));
    platform_.queues->postMain(
        [self = shared_from_this(), path = *chosenPath] { self->applySourceSelection(path); });
}

void RecoveryViewModel::selectDiskSource(const QString& path, const QString& name) {
    if (isRecovering_)
        return;
    // A device or an image is read by the engine through a descriptor of its own; there is
    // no folder to hold on to.
    if (sourceScopedURL_)
        platform_.fileSystem->stopAccessing(*sourceScopedURL_);
    sourceScopedURL_.reset();
    platform_.queues->postMain(
        [self = shared_from_this(), path, name] { self->applySourceSelection(path, name); });
}

void RecoveryViewModel::applySourceSelection(const QString& path, const QString& name) {
    refreshDeepRecoveryAvailable();
    // The name first: views redraw the source when its path changes.
    if (name != selectedSourceName_) {
        selectedSourceName_ = name;
        emit selectedSourceNameChanged();
    }
    setSelectedDrivePath(path);
    appendLog(QStringLiteral("Selected data source: ") + path);
    setStatusMessage(QStringLiteral("Data source selected, ready to recover"));
    setStatusColor(StatusColor::Primary);
}

void RecoveryViewModel::selectSaveLocationAndStart() {
    if (isRecovering_)
        return;
    if (!selectedDrivePath_) {
        setStatusMessage(QStringLiteral("Please select the data source location first"));
        setStatusColor(StatusColor::Red);
        appendLog(QStringLiteral("Start aborted: no data source selected"));
        return;
    }
    if (isDiskSource(*selectedDrivePath_) && !enginePresent()) {
        refuseEnginelessStart();
        return;
    }
    // The start uses the source as it stands now, whatever is chosen while the panel is open.
    const PanelRequest request{
        QStringLiteral("Select Save Location (Must be different from source)"), homeFolder(), true, {}};
    platform_.panels->chooseFolder(
        request, [weak = weakSelf(), sourcePath = *selectedDrivePath_](std::optional<QString> chosen) {
            if (auto self = weak.lock())
                self->handleSavePanelResult(chosen, sourcePath);
        });
}

void RecoveryViewModel::handleSavePanelResult(const std::optional<QString>& chosenPath,
                                              const QString& sourcePath) {
    // The panel is not modal: a second one, opened before the first was answered, must not
    // start a second run beside the one already going.
    if (!chosenPath || isRecovering_)
        return;
    const QString savePath = *chosenPath;
    if (isDiskSource(sourcePath)) {
        // Finding what holds the save location runs programs: off the main thread.
        platform_.queues->userInitiated([weak = weakSelf(), devices = platform_.blockDevices,
                                         queues = platform_.queues, sourcePath, savePath] {
            std::optional<QString> disk;
            if (devices)
                disk = SaveLocationGuard(*devices).sourceUnder(sourcePath, savePath);
            queues->postMain([weak, disk, sourcePath, savePath] {
                auto self = weak.lock();
                if (!self || self->isRecovering_)
                    return;
                if (disk) {
                    self->showAlert(
                        QStringLiteral("Error"),
                        QStringLiteral("The save location is on ") + *disk +
                            QStringLiteral(", the disk being recovered.\nPlease choose a folder on "
                                           "another disk to avoid overwriting."));
                    return;
                }
                self->continueWithSaveLocation(sourcePath, savePath);
            });
        });
        return;
    }
    if (locationsOverlap(sourcePath, savePath)) {
        showAlert(QStringLiteral("Error"),
                  QStringLiteral("Save location must be outside the source path.\nPlease "
                                 "choose a different disk or folder to avoid overwriting."));
        return;
    }
    continueWithSaveLocation(sourcePath, savePath);
}

void RecoveryViewModel::continueWithSaveLocation(const QString& sourcePath, const QString& savePath) {
    if (outputScopedURL_)
        platform_.fileSystem->stopAccessing(*outputScopedURL_);
    if (platform_.fileSystem->startAccessing(savePath))
        outputScopedURL_ = savePath;
    else
        appendLog(QStringLiteral("Warning: Failed to get access to save location"));
    startRecovery(sourcePath, savePath);
}

bool RecoveryViewModel::locationsOverlap(const QString& sourcePath, const QString& savePath) {
    if (sourcePath.normalized(QString::NormalizationForm_C) ==
        savePath.normalized(QString::NormalizationForm_C))
        return true;
    if (nested(standardizedPath(sourcePath), standardizedPath(savePath)))
        return true;
    // A save location reached through a link into the source would still write into it.
    const QString resolvedSource = resolvedPath(sourcePath);
    const QString resolvedSave = resolvedPath(savePath);
    return !resolvedSource.isEmpty() && !resolvedSave.isEmpty() && nested(resolvedSource, resolvedSave);
}

} // namespace vellorin
