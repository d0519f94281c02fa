#pragma once

#include "cli/CommandLine.h"
#include "cli/Report.h"
#include "platform/Platform.h"
#include "platform/TerminalAgent.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QUuid>

#include <memory>
#include <optional>

namespace vellorin {
class RecoveryViewModel;
class ResultsSorting;
} // namespace vellorin

namespace vellorin::cli {

class CommandLineAlerts;
class CommandLinePanels;

// One recovery from the command line: checks the two places as the window does, hands the run
// to the same view model, follows it into the report, and ends the event loop with the exit
// status.
class RecoverCommand : public QObject, public std::enable_shared_from_this<RecoverCommand> {
  public:
    static constexpr int kRecovered = 0;
    static constexpr int kFailed = 1;
    static constexpr int kUsage = 2;
    static constexpr int kNothingFound = 3;
    static constexpr int kInterrupted = 130; // 128 + SIGINT, as shells report it
    // How long a start asked to stop may take to begin before the command ends without it.
    static constexpr int kStartGraceMs = 5000;

    RecoverCommand(Request request, Report& report, Platform platform);
    ~RecoverCommand() override;

    // Everything that can be told before the run: an exit status when it must not start.
    // As root, this is where the source is opened and root's rights are given up.
    std::optional<int> prepare();
    // Starts the run; the event loop ends with the exit status.
    void start();
    // SIGINT, SIGTERM or SIGHUP: the run is stopped, its files kept.
    void interrupt(int signal);

  private:
    std::optional<int> refuse(const QString& reason, int status);
    // The disk behind the source, when this user may not read it and the disk service must ask.
    bool needsDiskService() const;
    void follow();
    void runEnded();
    void sortThenFinish(Summary summary);
    void finishSorted(Summary summary);
    // Why a run failed, from its log.
    QString failureReason() const;
    void finish(Summary summary);

    Request request_;
    Report& report_;
    Platform platform_;
    std::shared_ptr<CommandLineAlerts> alerts_;
    std::shared_ptr<CommandLinePanels> panels_;
    std::shared_ptr<RecoveryViewModel> model_;
    std::shared_ptr<ResultsSorting> sorting_;
    QString source_;
    QString saveLocation_;
    bool diskSource_ = false;
    bool deep_ = false;
    bool startRequested_ = false;
    bool started_ = false;
    bool finished_ = false;
    int signal_ = 0;
    QSet<QString> listed_;                // --json: the files already told
    QSet<QUuid> lookedAt_;                // --json: the records already looked at
    QHash<QUuid, QString> beforeSorting_; // each row's path as the sorting began
    // The run's last log entries, each whole, and the folder its completion named.
    static constexpr qsizetype kEntriesKept = 64;
    QStringList entries_;
    QString recoveryDirectory_;
    bool sortStarted_ = false;
    TerminalAgent agent_;
};

} // namespace vellorin::cli
