#include "cli/RecoverCommand.h"

#include "cli/Services.h"
#include "platform/Accounts.h"
#include "platform/FileSystem.h"
#include "platform/HeldDiskAccess.h"
#include "platform/Queues.h"
#include "platform/Resources.h"
#include "platform/SystemDiskAccess.h"
#include "workflow/PathJoin.h"
#include "workflow/ResultsSorting.h"
#include "workflow/ViewController.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

namespace vellorin::cli {

namespace {

using StatusColor = RecoveryViewModel::StatusColor;

} // namespace

RecoverCommand::RecoverCommand(Request request, Report& report, Platform platform)
    : request_(std::move(request)), report_(report), platform_(std::move(platform)) {
    alerts_ = std::make_shared<CommandLineAlerts>(request_.earlier, [this](const QString& title,
                                                                           const QString& message) {
        // An error said before any run began is the start refused (a save location on the
        // source disk, found out off the main thread): nothing else will follow it.
        if (!started_ && title == QStringLiteral("Error")) {
            finish(
                Summary{Summary::End::Refused, kUsage, 0, 0, {}, QString(message).replace(u'\n', u' '), {}});
            return;
        }
        // The failure's reason says what the window's advice about choosing a folder would.
        if (title == QStringLiteral("No Permission"))
            return;
        report_.notice(title, message);
    });
    panels_ = std::make_shared<CommandLinePanels>();
    platform_.alerts = alerts_;
    platform_.panels = panels_;
    platform_.workspace = std::make_shared<NoWorkspace>();
    platform_.settings = std::make_shared<RunSettings>();
}

RecoverCommand::~RecoverCommand() = default;

std::optional<int> RecoverCommand::refuse(const QString& reason, int status) {
    finished_ = true;
    Summary summary;
    summary.end = status == kUsage ? Summary::End::Refused : Summary::End::NotStarted;
    summary.exitStatus = status;
    summary.reason = reason;
    report_.finished(summary);
    return status;
}

std::optional<int> RecoverCommand::prepare() {
    const QFileInfo source(request_.source);
    const QFileInfo save(request_.saveLocation);
    if (!source.exists())
        return refuse(QStringLiteral("%1: no such folder, disk or image.").arg(request_.source), kUsage);
    if (!save.exists())
        return refuse(
            QStringLiteral("%1: no such folder; the save location must exist.").arg(request_.saveLocation),
            kUsage);
    if (!save.isDir())
        return refuse(QStringLiteral("%1 is not a folder.").arg(request_.saveLocation), kUsage);
    source_ = source.absoluteFilePath();
    saveLocation_ = save.absoluteFilePath();
    diskSource_ = !source.isDir();
    if (diskSource_) {
        struct stat info {};
        if (::stat(QFile::encodeName(source_).constData(), &info) != 0 ||
            !(S_ISBLK(info.st_mode) || S_ISREG(info.st_mode)))
            return refuse(
                QStringLiteral("%1 is neither a folder, a disk nor an image file.").arg(request_.source),
                kUsage);
    }

    const bool engine = RecoveryViewModel::engineInstalled(platform_);
    if (diskSource_ && request_.mode == Request::Mode::Copy)
        return refuse(
            QStringLiteral("%1 is a disk or an image, which only the deep search reads; leave out --copy.")
                .arg(request_.source),
            kUsage);
    if ((diskSource_ || request_.mode == Request::Mode::Deep) && !engine)
        return refuse(QStringLiteral("The deep search needs PhotoRec: install the package testdisk."),
                      kFailed);
    deep_ = request_.mode != Request::Mode::Copy && engine;
    if (!deep_ && (request_.sortIntoFolders || !request_.options.isDefault()))
        report_.notice(
            QStringLiteral("Note"),
            QStringLiteral("PhotoRec is not installed, so the files are copied one by one; the deep "
                           "search's options do not apply."));

    // A save location on the disk being recovered is found by the start itself, which lists the
    // disks (lsblk) once; its "Error" ends the command as a refusal. Folders are compared here.
    if (!diskSource_ && RecoveryViewModel::locationsOverlap(source_, saveLocation_)) {
        return refuse(
            QStringLiteral("The save location must be outside the source (%1 and %2 overlap). Choose a "
                           "different disk or folder.")
                .arg(source_, saveLocation_),
            kUsage);
    }

    auto disks = std::make_shared<SystemDiskAccess>(SystemDiskAccess::Session::Terminal);
    platform_.disks = disks;
    if (!accounts::runningAsRoot() && deep_ && needsDiskService())
        agent_.start();
    if (accounts::runningAsRoot()) {
        const std::optional<Account> owner = accounts::ownerOfFolder(saveLocation_);
        if (!owner)
            return refuse(
                QStringLiteral("No user of this machine owns %1, so there is no one to make the files as.")
                    .arg(saveLocation_),
                kUsage);
        if (owner->uid == 0) {
            if (const std::optional<QString> why = accounts::whyOthersCouldRedirect(saveLocation_))
                return refuse(
                    QStringLiteral("As root, files are written only where no other user could redirect "
                                   "them, and %1. Choose a folder only root can change, or one that "
                                   "belongs to the user the files are for.")
                        .arg(*why),
                    kUsage);
        } else {
            // The source is opened now, as root; everything after runs as the save location's
            // owner, who then cannot turn root's writes anywhere through a link of theirs.
            if (deep_) {
                DiskAccess::Opened opened = disks->openSource(source_, {});
                if (opened.problem)
                    return refuse(*opened.problem, kFailed);
                platform_.disks = std::make_shared<HeldDiskAccess>(source_, std::move(opened), disks);
            }
            const QString resources = platform_.resources->resourceFolder().value_or(QString());
            if (const std::optional<Error> failure = accounts::become(*owner))
                return refuse(QStringLiteral("Could not give up root's rights to act as %1: %2")
                                  .arg(owner->name, failure->description),
                              kFailed);
            if (deep_ && !RecoveryViewModel::engineInstalled(platform_))
                return refuse(QStringLiteral("%1 cannot reach PhotoRec and Vellorin's script in %2. Install "
                                             "Vellorin's package, or run it from a folder %1 may enter.")
                                  .arg(owner->name, resources),
                              kFailed);
            // The search names its source by path, and checks the descriptor against it.
            struct stat reached {};
            if (::stat(QFile::encodeName(source_).constData(), &reached) != 0)
                return refuse(
                    QStringLiteral("%1 cannot reach %2, which the search names by its path. Move it to "
                                   "a folder %1 may enter, or choose a save location of root's.")
                        .arg(owner->name, source_),
                    kUsage);
            report_.notice(
                QStringLiteral("Note"),
                QStringLiteral("Running as %1, the owner of %2: %3 and every recovered file are %1's.")
                    .arg(owner->name, saveLocation_,
                         deep_ ? QStringLiteral("PhotoRec") : QStringLiteral("the copy")));
        }
    }
    return std::nullopt;
}

bool RecoverCommand::needsDiskService() const {
    QString device = source_;
    if (!diskSource_)
        device = QString::fromLocal8Bit(QStorageInfo(source_).device());
    struct stat info {};
    return ::stat(QFile::encodeName(device).constData(), &info) == 0 && S_ISBLK(info.st_mode) &&
           ::access(QFile::encodeName(device).constData(), R_OK) != 0;
}

void RecoverCommand::start() {
    model_ = RecoveryViewModel::create(platform_);
    model_->setScanOptions(request_.options);
    model_->setRecoverAllFiles(request_.allFiles);
    if (request_.mode == Request::Mode::Copy)
        model_->setRecoveryMode(RecoveryViewModel::RecoveryMode::CopyOnly);
    if (deep_)
        sorting_ = ResultsSorting::create(model_);
    follow();

    if (diskSource_) {
        model_->selectDiskSource(source_, {});
    } else {
        panels_->answerNext(source_);
        model_->selectSourceLocation();
    }
    // After the selection, which the view model applies through the main queue.
    QMetaObject::invokeMethod(
        this,
        [this] {
            startRequested_ = true;
            panels_->answerNext(saveLocation_);
            model_->selectSaveLocationAndStart();
        },
        Qt::QueuedConnection);
}

void RecoverCommand::follow() {
    RecoveryViewModel* model = model_.get();
    connect(model, &RecoveryViewModel::logLineAppended, this, [this](const QString& line) {
        if (!started_)
            return;
        report_.logLine(line);
        // Each entry whole, as the run wrote it: a path in it may hold a line feed.
        QString message = line.section(QStringLiteral("] "), 1);
        if (message.endsWith(u'\n'))
            message.chop(1);
        static const QString savedIn = QStringLiteral("Recovered files saved in: ");
        if (message.startsWith(savedIn))
            recoveryDirectory_ = message.mid(savedIn.size());
        entries_.append(message);
        if (entries_.size() > kEntriesKept)
            entries_.removeFirst();
    });
    // A start refused before any run (no engine for a disk) says so in a red status alone.
    connect(model, &RecoveryViewModel::statusColorChanged, this, [this, model] {
        if (!started_ && startRequested_ && model->statusColor() == StatusColor::Red)
            finish(Summary{Summary::End::NotStarted, kFailed, 0, 0, {}, model->statusMessage(), {}});
    });
    connect(model, &RecoveryViewModel::isRecoveringChanged, this, [this, model] {
        if (model->isRecovering() && !started_) {
            started_ = true;
            report_.started(source_, saveLocation_, deep_ ? QStringLiteral("deep") : QStringLiteral("copy"));
            // Interrupted while the start was on its way: stopped as soon as there is a run.
            if (signal_)
                model->stopRecovery();
        } else if (!model->isRecovering() && started_) {
            report_.endProgress();
            // The ending sets the rest of its state in the same turn and posts its log lines:
            // one turn to finish it, one for the lines, and the end is read whole.
            platform_.queues->postMain([weak = weak_from_this(), queues = platform_.queues] {
                queues->postMain([weak] {
                    if (auto self = weak.lock())
                        self->runEnded();
                });
            });
        }
    });
    connect(model, &RecoveryViewModel::progressChanged, this, [this, model] {
        if (model->isRecovering())
            report_.progress(model->progress(), model->recoveredCount());
    });
    connect(model, &RecoveryViewModel::recoveredCountChanged, this, [this, model] {
        if (model->isRecovering() && report_.style() == Report::Style::Terminal)
            report_.progress(model->progress(), model->recoveredCount());
    });
    if (report_.style() != Report::Style::Json)
        return;
    connect(model, &RecoveryViewModel::recoveredFilesPrepended, this, [this, model](qsizetype count) {
        const QList<RecoveredFile>& files = model->recoveredFiles();
        for (qsizetype i = count - 1; i >= 0; --i) // oldest first, as they were copied
            if (!listed_.contains(files.at(i).path())) {
                listed_.insert(files.at(i).path());
                report_.file(files.at(i));
            }
    });
    connect(model, &RecoveryViewModel::recoveredFilesChanged, this, [this, model] {
        if (sortStarted_)
            return; // moves, not new files
        // The monitor lists the folder anew every two seconds; only the files new since are told,
        // oldest first.
        // A record the monitor keeps from tick to tick has been looked at already: only new
        // records' paths are read, not a million of them every two seconds.
        const QList<RecoveredFile>& files = model->recoveredFiles();
        for (auto file = files.crbegin(); file != files.crend(); ++file) {
            if (!lookedAt_.contains(file->id()))
                lookedAt_.insert(file->id());
            else
                continue;
            const QString path = file->path();
            if (!listed_.contains(path)) {
                listed_.insert(path);
                report_.file(*file);
            }
        }
    });
}

void RecoverCommand::runEnded() {
    Summary summary;
    summary.recovered = model_->recoveredCount();
    summary.scanned = model_->scannedCount();
    const QString status = model_->statusMessage();
    const StatusColor color = model_->statusColor();
    if (color == StatusColor::Green) {
        summary.recoveryDirectory = model_->deepResultsDirectory();
        if (summary.recoveryDirectory.isEmpty())
            summary.recoveryDirectory = recoveryDirectory_;
        summary.end = summary.recovered > 0 ? Summary::End::Recovered : Summary::End::NothingFound;
        summary.exitStatus = summary.recovered > 0 ? kRecovered : kNothingFound;
        if (summary.recovered > 0 && request_.sortIntoFolders && sorting_ && signal_ == 0) {
            sortThenFinish(summary);
            return;
        }
    } else if (color == StatusColor::Orange && status == QStringLiteral("Recovery stopped")) {
        summary.end = Summary::End::Stopped;
        summary.exitStatus = signal_ ? 128 + signal_ : kFailed;
        summary.recoveryDirectory = model_->deepResultsDirectory();
        if (summary.recoveryDirectory.isEmpty())
            summary.recoveryDirectory = joinPath(saveLocation_, QStringLiteral("recovered_files"));
    } else if (color == StatusColor::Orange) {
        summary.end = Summary::End::NotStarted;
        if (alerts_->unanswered()) {
            summary.exitStatus = kUsage;
            summary.reason = *alerts_->unanswered();
        } else {
            summary.exitStatus = kFailed;
            summary.reason = status;
        }
    } else if (color == StatusColor::Red) {
        summary.end = Summary::End::Failed;
        summary.exitStatus = kFailed;
        summary.reason = failureReason();
    } else {
        summary.end = Summary::End::NothingFound;
        summary.exitStatus = kNothingFound;
    }
    if (signal_ && summary.end != Summary::End::Stopped)
        summary.exitStatus = 128 + signal_;
    finish(summary);
}

QString RecoverCommand::failureReason() const {
    // The status is the window's short line ("check logs"); the log says why.
    static const QString exitLine = QStringLiteral("Error occurred during recovery (Exit code: ");
    static const QString probeFailed = QStringLiteral("Write permission check failed: ");
    static const QString engine = QStringLiteral("PhotoRec: ");
    qsizetype last = entries_.size() - 1;
    while (last >= 0 && !entries_.at(last).startsWith(exitLine))
        --last;
    if (last >= 0) {
        const QString code = entries_.at(last).mid(exitLine.size()).chopped(1);
        const QString ended = QStringLiteral("The search ended with status %1.").arg(code);
        // The engine script's last word is its reason; what the run did after it is not.
        for (qsizetype i = last - 1; i >= 0; --i)
            if (entries_.at(i).startsWith(engine))
                return entries_.at(i).mid(engine.size()) + u' ' + ended;
        return ended;
    }
    for (const QString& entry : entries_)
        if (entry.startsWith(probeFailed))
            return QStringLiteral("Cannot write to %1: %2").arg(saveLocation_, entry.mid(probeFailed.size()));
    return entries_.isEmpty() ? model_->statusMessage() : entries_.constLast();
}

void RecoverCommand::sortThenFinish(Summary summary) {
    auto proceed = [this, summary] {
        if (finished_ || sortStarted_ || !sorting_->isSettled() || sorting_->isBusy())
            return;
        if (!sorting_->canSort()) {
            finish(summary);
            return;
        }
        // From here the list changes by moves, not by new files; each row keeps its id when
        // its file moves, so the moves are told by it.
        sortStarted_ = true;
        for (const RecoveredFile& file : model_->recoveredFiles())
            beforeSorting_.insert(file.id(), file.path());
        connect(sorting_.get(), &ResultsSorting::finished, this, [this, summary] {
            // The sorting's line is posted as it ends: read once it has arrived.
            platform_.queues->postMain([weak = weak_from_this(), summary] {
                if (auto self = weak.lock())
                    self->finishSorted(summary);
            });
        });
        sorting_->sortIntoFolders();
    };
    connect(sorting_.get(), &ResultsSorting::changed, this, proceed);
    proceed();
}

void RecoverCommand::finishSorted(Summary summary) {
    for (const RecoveredFile& file : model_->recoveredFiles()) {
        const auto was = beforeSorting_.constFind(file.id());
        if (was != beforeSorting_.cend() && *was != file.path() && listed_.contains(*was))
            report_.moved(*was, file.path());
    }
    const QString line = entries_.isEmpty() ? QString() : entries_.constLast();
    if (!sorting_->failure().isEmpty()) {
        summary.exitStatus = kFailed;
        summary.reason =
            QStringLiteral("The files were recovered, but sorting them failed: ") + sorting_->failure();
    } else {
        summary.sorted = line;
    }
    if (signal_)
        summary.exitStatus = 128 + signal_;
    finish(summary);
}

void RecoverCommand::finish(Summary summary) {
    if (finished_)
        return;
    finished_ = true;
    report_.finished(summary);
    QCoreApplication::exit(summary.exitStatus);
}

void RecoverCommand::interrupt(int signal) {
    if (finished_)
        return;
    if (signal_) {
        report_.notice(QStringLiteral("Stopping"), QStringLiteral("Still stopping; please wait."));
        return;
    }
    signal_ = signal;
    if (!model_) {
        Summary summary;
        summary.end = Summary::End::NotStarted;
        summary.exitStatus = 128 + signal;
        finish(summary);
        return;
    }
    if (!started_) {
        // The run is stopped the moment it begins; a start that never comes ends the command.
        QTimer::singleShot(kStartGraceMs, this, [this] {
            if (!started_)
                finish(Summary{Summary::End::NotStarted, 128 + signal_, 0, 0, {}, {}, {}});
        });
        return;
    }
    if (sorting_ && sorting_->isBusy()) {
        report_.notice(QStringLiteral("Stopping"),
                       QStringLiteral("Finishing the sorting first, so that no file is left half-way."));
        return;
    }
    report_.notice(QStringLiteral("Stopping"),
                   QStringLiteral("Stopping the search; the files found so far are kept."));
    model_->stopRecovery();
}

} // namespace vellorin::cli
