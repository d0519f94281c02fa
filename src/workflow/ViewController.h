#pragma once

#include "platform/Error.h"
#include "platform/Platform.h"
#include "workflow/RecoveredFile.h"
#include "workflow/ScanOptions.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

class QTimer;

namespace vellorin {

class EngineProcess;

// The state of the recovery workflow and all of its operations. Lives on the main thread;
// every published property changes there, and each change emits its NOTIFY signal and
// changed(). Made only through create(), so that closures can hold it weakly.
class RecoveryViewModel : public QObject, public std::enable_shared_from_this<RecoveryViewModel> {
    Q_OBJECT
    Q_PROPERTY(QVariant selectedDrivePath READ selectedDrivePathValue NOTIFY selectedDrivePathChanged)
    Q_PROPERTY(bool isRecovering READ isRecovering NOTIFY isRecoveringChanged)
    Q_PROPERTY(
        bool recoverAllFiles READ recoverAllFiles WRITE setRecoverAllFiles NOTIFY recoverAllFilesChanged)
    Q_PROPERTY(QString logText READ logText NOTIFY logTextChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(StatusColor statusColor READ statusColor NOTIFY statusColorChanged)
    Q_PROPERTY(qint64 recoveredCount READ recoveredCount NOTIFY recoveredCountChanged)
    Q_PROPERTY(qint64 scannedCount READ scannedCount NOTIFY scannedCountChanged)
    Q_PROPERTY(QList<vellorin::RecoveredFile> recoveredFiles READ recoveredFiles NOTIFY recoveredFilesChanged)
    Q_PROPERTY(QString selectedSourceName READ selectedSourceName NOTIFY selectedSourceNameChanged)
    Q_PROPERTY(bool deepRecoveryAvailable READ deepRecoveryAvailable NOTIFY deepRecoveryAvailableChanged)

  public:
    enum class StatusColor { Primary, Red, Blue, Orange, Green };
    Q_ENUM(StatusColor)

    // The domain of the errors that stop a simplified recovery before its walk.
    static inline const QString kErrorDomain = QStringLiteral("ZariZezuziv");

    static std::shared_ptr<RecoveryViewModel> create(Platform platform);
    ~RecoveryViewModel() override;

    // Published state, main thread.
    const std::optional<QString>& selectedDrivePath() const { return selectedDrivePath_; }
    QVariant selectedDrivePathValue() const;
    bool isRecovering() const { return isRecovering_; }
    bool recoverAllFiles() const { return recoverAllFiles_.load(std::memory_order_relaxed); }
    void setRecoverAllFiles(bool on);
    const QString& logText() const { return logText_; }
    const QString& statusMessage() const { return statusMessage_; }
    StatusColor statusColor() const { return statusColor_; }
    qint64 recoveredCount() const { return recoveredCount_; }
    qint64 scannedCount() const { return scannedCount_; }
    const QList<RecoveredFile>& recoveredFiles() const { return recoveredFiles_; }
    // What a sighted user calls the chosen disk or partition; empty for a folder or an image.
    const QString& selectedSourceName() const { return selectedSourceName_; }
    // The engine and its script are installed: a start runs the deep recovery.
    bool deepRecoveryAvailable() const { return deepRecoveryAvailable_; }
    const ScanOptions& scanOptions() const { return scanOptions_; }
    // Kept for later launches as well.
    void setScanOptions(const ScanOptions& options);

    // Not published.
    const std::shared_ptr<EngineProcess>& recoveryProcess() const { return recoveryProcess_; }
    QTimer* fileMonitorTimer() const { return fileMonitorTimer_.get(); }
    const std::optional<QString>& sourceScopedURL() const { return sourceScopedURL_; }
    const std::optional<QString>& outputScopedURL() const { return outputScopedURL_; }
    const Platform& platform() const { return platform_; }

    // Reporting, from any thread.
    void appendLog(const QString& message);
    void showAlert(const QString& title, const QString& message);

    // Location selection (main thread).
    void selectSourceLocation();
    // A disk, a partition or an image file chosen as the source, with its readable name.
    void selectDiskSource(const QString& path, const QString& name);
    void selectSaveLocationAndStart();
    static bool locationsOverlap(const QString& sourcePath, const QString& savePath);

    // Recovery start (main thread).
    void startRecovery(const QString& sourcePath, const QString& savePath);
    std::optional<QString> locateEngine();

    // Recovery directory (the caller's thread).
    std::optional<QString> prepareRecoveryDirectory(const QString& savePath);
    bool checkWritePermission(const QString& savePath);
    std::optional<QString> makeFallbackDirectory();

    // Deep recovery (worker thread) and the output-folder monitor (any thread).
    void runDeepRecovery(const QString& scriptPath, const QString& sourcePath, const QString& savePath,
                         const ScanOptions& options = {});
    void startFileMonitor(const QString& watchedFolder);
    void stopFileMonitor();

    // Simplified recovery (worker thread).
    void runSimplifiedRecovery(const QString& sourcePath, const QString& recoveryDirectory);

    // Endings, from any thread.
    void completeRecovery(int exitStatus, const QString& recoveryDirectory);
    void failRecovery(const Error& error);

  signals:
    void selectedDrivePathChanged();
    void isRecoveringChanged();
    void recoverAllFilesChanged();
    void logTextChanged();
    void statusMessageChanged();
    void statusColorChanged();
    void recoveredCountChanged();
    void scannedCountChanged();
    void recoveredFilesChanged();
    void selectedSourceNameChanged();
    void deepRecoveryAvailableChanged();
    void scanOptionsChanged();
    // Emitted for any published change, after the property's own signal.
    void changed();
    // Finer signals for views that follow the state incrementally. Each comes just before
    // the property's own signal; logTextChanged or recoveredFilesChanged alone means the
    // value was replaced as a whole.
    void logLineAppended(const QString& line);
    void recoveredFilePrepended();

  private:
    explicit RecoveryViewModel(Platform platform);

    std::weak_ptr<RecoveryViewModel> weakSelf() { return weak_from_this(); }

    // Setters for published state; main thread only.
    void setSelectedDrivePath(std::optional<QString> path);
    void setIsRecovering(bool on);
    void appendLogLine(const QString& line);
    void clearLog();
    void setStatusMessage(const QString& message);
    void setStatusColor(StatusColor color);
    void setRecoveredCount(qint64 count);
    void setScannedCount(qint64 count);
    void prependRecoveredFile(RecoveredFile file);
    void setRecoveredFiles(QList<RecoveredFile> files);
    template <typename Value> void releaseOffMainThread(Value value);

    // Simplified recovery steps, main thread.
    void publishRecoveredFile(const RecoveredFile& file,
                              const std::shared_ptr<std::atomic<std::int64_t>>& recovered);
    void publishScanProgress(qint64 count);
    void reportSimplifiedSummary(qint64 scanned, qint64 recovered, const QString& recoveryDirectory);

    // Completion, main thread.
    void releaseSecurityScopedAccess();

    // Selection, start, deep recovery and monitor internals.
    void handleSourcePanelResult(const std::optional<QString>& chosenPath);
    void handleSavePanelResult(const std::optional<QString>& chosenPath, const QString& sourcePath);
    void applySourceSelection(const QString& path, const QString& name = {});
    void continueWithSaveLocation(const QString& sourcePath, const QString& savePath);
    // A disk, a partition or an image: anything but a folder, read only by the engine.
    bool isDiskSource(const QString& sourcePath);
    bool enginePresent();
    void refreshDeepRecoveryAvailable();
    void refuseEnginelessStart();
    void resetForRecovery();
    void handleEngineOutput(const QByteArray& chunk);
    void handleEngineExit(int exitStatus, const QString& recoveryDirectory);
    void handleEngineLaunchFailure(const Error& error, const QString& sourcePath,
                                   const QString& recoveryDirectory);
    // Every fallback to the simplified recovery, into a folder already prepared; a disk or an
    // image source ends the run as a failure instead.
    void runSimplifiedRecoveryOnWorker(const QString& sourcePath, const QString& recoveryDirectory);
    // Names tried for the fallback folder's parent: "Vellorin", then "Vellorin-1" and on.
    static constexpr int kFallbackCandidates = 10;
    // The end of a deep run whose source could not be read: the engine script's own status
    // for that case, so both ways of failing read alike.
    static constexpr int kSourceUnreadableStatus = 6;
    // Where the script and the engine lie in a resource folder.
    struct EngineFiles {
        QString script;
        QString engine;
    };
    static EngineFiles engineFilesIn(const QString& resourceFolder);
    bool engineFilesExist(const EngineFiles& files);
    void refreshRecoveredFiles(const QString& watchedFolder);
    void applyRecoveredFiles(QList<RecoveredFile> files);

    Platform platform_;

    std::optional<QString> selectedDrivePath_;
    bool isRecovering_ = false;
    std::atomic<bool> recoverAllFiles_{false};
    QString logText_;
    QString statusMessage_;
    StatusColor statusColor_ = StatusColor::Primary;
    qint64 recoveredCount_ = 0;
    qint64 scannedCount_ = 0;
    QList<RecoveredFile> recoveredFiles_;
    QString selectedSourceName_;
    bool deepRecoveryAvailable_ = false;
    ScanOptions scanOptions_;
    std::shared_ptr<EngineProcess> recoveryProcess_;
    std::unique_ptr<QTimer> fileMonitorTimer_;
    std::optional<QString> sourceScopedURL_;
    std::optional<QString> outputScopedURL_;
    // Main thread only. Bumped at every start and stop of the monitor, so that a scan begun
    // for an earlier timer is not applied after the run's final list.
    std::uint64_t monitorGeneration_ = 0;

    // Tests and benchmarks drive the monitor's steps one at a time.
    friend class FileMonitorProbe;
};

} // namespace vellorin
