#pragma once

#include "platform/Error.h"
#include "platform/LineInbox.h"
#include "platform/Platform.h"
#include "workflow/RecoveredFile.h"
#include "workflow/RecoveryProgress.h"
#include "workflow/ScanOptions.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QTimer;

namespace vellorin {

class EngineProcess;
class FileSystem;
class RecoveryFolderIndex;
class RunControl;
class SearchFollower;

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
    Q_PROPERTY(vellorin::RecoveryProgress progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString deepResultsDirectory READ deepResultsDirectory NOTIFY deepResultsDirectoryChanged)

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
    // How far the running recovery has come; Phase::Unknown while nothing is measured.
    const RecoveryProgress& progress() const { return progress_; }
    // Kept for later launches as well.
    void setScanOptions(const ScanOptions& options);
    // Whether a start may use the engine: a view may ask for the file-by-file copy even where
    // the engine is installed. Not remembered.
    enum class RecoveryMode { Automatic, CopyOnly };
    void setRecoveryMode(RecoveryMode mode) { recoveryMode_ = mode; }
    RecoveryMode recoveryMode() const { return recoveryMode_; }
    // The recovery folder of the last deep run, once it has ended completed or stopped; empty
    // before, while a run goes on, and after a run that failed or copied file by file.
    const QString& deepResultsDirectory() const { return deepResultsDirectory_; }
    // The listed files that were moved on disk (old path to new), main thread: each keeps its
    // row, under its new name.
    void relocateRecoveredFiles(const QHash<QString, QString>& moves);

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
    // The engine and its script lie in the platform's resource folder: a start would run the
    // deep recovery. Any thread.
    static bool engineInstalled(const Platform& platform);

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

    // Stop (main thread): asks "Stop the search? ..." and, when the user agrees, ends the run;
    // the files recovered so far are kept and listed.
    void requestStop();
    // The same without the question, as the user's "Stop" answer does.
    void stopRecovery();
    // A stopped deep run's end, from any thread: the last list, the count and the orange status.
    void finishStoppedRecovery(const QString& recoveryDirectory);

    // How long the search's progress is looked at, and how often it is said in the log.
    static constexpr int kProgressIntervalMs = 1000;
    static constexpr int kProgressLogIntervalMs = 5000;

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
    void progressChanged();
    void deepResultsDirectoryChanged();
    // Emitted for any published change, after the property's own signal.
    void changed();
    // Finer signals for views that follow the state incrementally. Each comes just before
    // the property's own signal; logTextChanged or recoveredFilesChanged alone means the
    // value was replaced as a whole. recoveredFilesPrepended: the first count records of the
    // list are new, the newest first.
    void logLineAppended(const QString& line);
    void recoveredFilesPrepended(qsizetype count);

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
    // Oldest first, as they were copied.
    void prependRecoveredFiles(std::vector<RecoveredFile> files);
    void setRecoveredFiles(QList<RecoveredFile> files);
    void setProgress(const RecoveryProgress& progress);
    void setDeepResultsDirectory(const QString& directory);
    template <typename Value> void releaseOffMainThread(Value value);

    // Simplified recovery steps, main thread.
    void publishRecoveredFiles(std::vector<RecoveredFile> files,
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
    static bool engineFilesExist(FileSystem& fileSystem, const EngineFiles& files);
    void refreshRecoveredFiles(const QString& watchedFolder);
    void applyRecoveredFiles(QList<RecoveredFile> files);

    // The run's Stop; any thread. Made at each start.
    std::shared_ptr<RunControl> currentRun() const;
    // Asks the user from a worker thread and waits for the answer: the index of the button.
    int askFromWorker(const QString& title, const QString& message, const QStringList& buttons);
    // Before a deep run: a search from an earlier start that still writes into the recovery
    // folder is stopped, if the user agrees. False when this start must not go on.
    bool settleRunningSearch(const QString& recoveryDirectory);
    // The source view's progress reports, followed while the engine runs (any thread).
    void startProgressFollower(const QString& recoveryDirectory);
    void stopProgressFollower();
    void publishCopyProgress(qint64 files, qint64 bytes, double seconds);
    // The end of a run that could not start because a search still runs there.
    void endNotStarted(const QString& message);
    // The end every stopped run shows, main thread.
    void showStopped(qint64 recovered);
    QString selectedSourceNameForRun(const QString& sourcePath);

    Platform platform_;

    std::optional<QString> selectedDrivePath_;
    bool isRecovering_ = false;
    std::atomic<bool> recoverAllFiles_{false};
    QString logText_;
    // Lines on their way to the log, from any thread.
    LineInbox logInbox_;
    QString statusMessage_;
    StatusColor statusColor_ = StatusColor::Primary;
    qint64 recoveredCount_ = 0;
    qint64 scannedCount_ = 0;
    QList<RecoveredFile> recoveredFiles_;
    QString selectedSourceName_;
    bool deepRecoveryAvailable_ = false;
    ScanOptions scanOptions_;
    RecoveryMode recoveryMode_ = RecoveryMode::Automatic;
    std::shared_ptr<EngineProcess> recoveryProcess_;
    std::unique_ptr<QTimer> fileMonitorTimer_;
    std::optional<QString> sourceScopedURL_;
    std::optional<QString> outputScopedURL_;
    RecoveryProgress progress_;
    QString deepResultsDirectory_;
    std::unique_ptr<QTimer> progressTimer_;
    std::shared_ptr<SearchFollower> follower_;
    mutable std::mutex runMutex_;
    std::shared_ptr<RunControl> run_;
    QString runSourceName_; // what the questions of a run call its source
    // Main thread only. Bumped at every start and stop of the monitor, so that a scan begun
    // for an earlier timer is not applied after the run's final list.
    std::uint64_t monitorGeneration_ = 0;
    // What the monitor knows of the folder between its ticks; new at every start.
    std::shared_ptr<RecoveryFolderIndex> folderIndex_;

    // Tests and benchmarks drive the monitor's steps one at a time.
    friend class FileMonitorProbe;
};

} // namespace vellorin
