#include "workflow/ViewController.h"

#include "platform/Alerts.h"
#include "platform/Clock.h"
#include "platform/Queues.h"
#include "platform/Settings.h"

#include <QTimer>

#include <algorithm>

namespace vellorin {

namespace {
const QString kScanFamiliesKey = QStringLiteral("scanFamilies");
const QString kScanSpaceKey = QStringLiteral("scanSpace");
const QString kNamesFirstKey = QStringLiteral("scanNamesFirst");
} // namespace

std::shared_ptr<RecoveryViewModel> RecoveryViewModel::create(Platform platform) {
    // The last reference may be dropped on a worker thread; the object itself is always
    // destroyed on the main thread.
    return std::shared_ptr<RecoveryViewModel>(new RecoveryViewModel(std::move(platform)),
                                              [](RecoveryViewModel* model) { model->deleteLater(); });
}

RecoveryViewModel::RecoveryViewModel(Platform platform)
    : platform_(std::move(platform)),
      statusMessage_(QStringLiteral("Please select the data source location (where to recover data from)")) {
    if (platform_.settings) {
        scanOptions_.families = ScanOptions::familiesFromKey(platform_.settings->text(kScanFamiliesKey));
        scanOptions_.freeSpaceOnly = platform_.settings->text(kScanSpaceKey) == QStringLiteral("free");
        scanOptions_.namesFirst = platform_.settings->text(kNamesFirstKey) != QStringLiteral("off");
    }
    deepRecoveryAvailable_ = enginePresent();
}

// Dropping the view model neither stops an engine nor waits for one: the timer and the
// process handle are only released.
RecoveryViewModel::~RecoveryViewModel() = default;

QVariant RecoveryViewModel::selectedDrivePathValue() const {
    return selectedDrivePath_ ? QVariant(*selectedDrivePath_) : QVariant();
}

void RecoveryViewModel::setRecoverAllFiles(bool on) {
    recoverAllFiles_.store(on, std::memory_order_relaxed);
    emit recoverAllFilesChanged();
    emit changed();
}

void RecoveryViewModel::setScanOptions(const ScanOptions& options) {
    if (options == scanOptions_)
        return;
    scanOptions_ = options;
    if (platform_.settings) {
        platform_.settings->setText(kScanFamiliesKey, options.familiesKey());
        platform_.settings->setText(kScanSpaceKey,
                                    options.freeSpaceOnly ? QStringLiteral("free") : QStringLiteral("whole"));
        platform_.settings->setText(kNamesFirstKey,
                                    options.namesFirst ? QStringLiteral("on") : QStringLiteral("off"));
    }
    emit scanOptionsChanged();
    emit changed();
}

void RecoveryViewModel::refreshDeepRecoveryAvailable() {
    const bool available = enginePresent();
    if (available == deepRecoveryAvailable_)
        return;
    deepRecoveryAvailable_ = available;
    emit deepRecoveryAvailableChanged();
    emit changed();
}

void RecoveryViewModel::setSelectedDrivePath(std::optional<QString> path) {
    selectedDrivePath_ = std::move(path);
    emit selectedDrivePathChanged();
    emit changed();
}

void RecoveryViewModel::setProgress(const RecoveryProgress& progress) {
    if (progress == progress_)
        return;
    progress_ = progress;
    emit progressChanged();
    emit changed();
}

void RecoveryViewModel::setDeepResultsDirectory(const QString& directory) {
    if (directory == deepResultsDirectory_)
        return;
    deepResultsDirectory_ = directory;
    emit deepResultsDirectoryChanged();
    emit changed();
}

void RecoveryViewModel::relocateRecoveredFiles(const QHash<QString, QString>& moves) {
    if (moves.isEmpty())
        return;
    QList<RecoveredFile> files = recoveredFiles_;
    bool moved = false;
    for (RecoveredFile& file : files) {
        const auto to = moves.constFind(file.path());
        if (to == moves.cend())
            continue;
        const qsizetype slash = to->lastIndexOf(QLatin1Char('/'));
        file = file.movedTo(to->mid(slash + 1), *to);
        moved = true;
    }
    if (moved)
        setRecoveredFiles(std::move(files));
}

void RecoveryViewModel::setIsRecovering(bool on) {
    isRecovering_ = on;
    emit isRecoveringChanged();
    emit changed();
}

void RecoveryViewModel::appendLogLine(const QString& line) {
    logText_.append(line);
    emit logLineAppended(line);
    emit logTextChanged();
    emit changed();
}

void RecoveryViewModel::clearLog() {
    // The text goes, its room stays for the next run's log: giving back the hundreds of
    // megabytes of a long log takes the kernel tens of milliseconds during which no other
    // thread of the process can take a page, the window's first of all.
    logText_.resize(0);
    emit logTextChanged();
    emit changed();
}

void RecoveryViewModel::setStatusMessage(const QString& message) {
    statusMessage_ = message;
    emit statusMessageChanged();
    emit changed();
}

void RecoveryViewModel::setStatusColor(StatusColor color) {
    statusColor_ = color;
    emit statusColorChanged();
    emit changed();
}

void RecoveryViewModel::setRecoveredCount(qint64 count) {
    recoveredCount_ = count;
    emit recoveredCountChanged();
    emit changed();
}

void RecoveryViewModel::setScannedCount(qint64 count) {
    scannedCount_ = count;
    emit scannedCountChanged();
    emit changed();
}

void RecoveryViewModel::prependRecoveredFiles(std::vector<RecoveredFile> files) {
    if (files.empty())
        return;
    const auto count = static_cast<qsizetype>(files.size());
    // One move of the list for the whole batch, not one per file.
    recoveredFiles_.insert(0, count, RecoveredFile());
    std::move(files.rbegin(), files.rend(), recoveredFiles_.begin());
    emit recoveredFilesPrepended(count);
    emit recoveredFilesChanged();
    emit changed();
}

void RecoveryViewModel::setRecoveredFiles(QList<RecoveredFile> files) {
    QList<RecoveredFile> old = std::exchange(recoveredFiles_, std::move(files));
    emit recoveredFilesChanged();
    emit changed();
    releaseOffMainThread(std::move(old));
}

template <typename Value> void RecoveryViewModel::releaseOffMainThread(Value value) {
    // The log and the list of a large run are hundreds of megabytes in hundreds of thousands
    // of blocks, most of them allocated by workers: freed here, they would hold up the
    // window for a tenth of a second at the start of the next run.
    platform_.queues->background([value = std::move(value)]() mutable { value = Value(); });
}

void RecoveryViewModel::appendLog(const QString& message) {
    logInbox_.add(message, *platform_.queues, [weak = weakSelf()] {
        return [weak] {
            auto self = weak.lock();
            if (!self)
                return;
            // Stamped when the lines reach the log, not when they were asked for.
            const QString time = formatLogTime(self->platform_.clock->now());
            QString entry;
            self->logInbox_.deliver([&](QStringView line) {
                entry.resize(0);
                entry += QLatin1Char('[');
                entry += time;
                entry += QLatin1String("] ");
                entry += line;
                entry += QLatin1Char('\n');
                self->appendLogLine(entry);
            });
        };
    });
}

void RecoveryViewModel::showAlert(const QString& title, const QString& message) {
    // Holds only the alert service, so the alert still appears when the view model is gone.
    platform_.queues->postMain([alerts = platform_.alerts, title, message] {
        alerts->runModal(title, message, {QStringLiteral("OK")});
    });
}

} // namespace vellorin
