#include "workflow/NamesStep.h"

#include "workflow/PathJoin.h"

#include "platform/EngineLauncher.h"
#include "platform/EngineProcess.h"

#include <QStringDecoder>

#include <future>
#include <memory>
#include <mutex>

namespace vellorin {

namespace {

// The helper's own exit statuses; any other is a crash.
constexpr int kHelperDone = 0;
constexpr int kHelperRecordsFailed = 1;
constexpr int kHelperNoFileSystem = 3;

struct Reading {
    std::mutex lock;
    QByteArray pending;
    NamesStep::Outcome outcome;
    bool sawError = false;
};

} // namespace

QString NamesStep::helperIn(const QString& resourceFolder) {
    return joinPath(resourceFolder, QStringLiteral("../../libexec/vellorin/vellorin-deleted-files"));
}

NamesStep::Outcome NamesStep::run(EngineLauncher& launcher, const QString& helper, int sourceDescriptor,
                                  const QString& recoveryDirectory,
                                  const std::function<void(const QString&)>& log,
                                  const std::function<void(std::shared_ptr<EngineProcess>)>& running) {
    const QString destination = joinPath(recoveryDirectory, kFolderName);
    auto reading = std::make_shared<Reading>();
    auto ended = std::make_shared<std::promise<int>>();
    std::future<int> status = ended->get_future();

    EngineLauncher::Handlers handlers;
    handlers.output = [reading, destination, log](const QByteArray& chunk) {
        std::lock_guard guard(reading->lock);
        reading->pending += chunk;
        qsizetype end = 0;
        while ((end = reading->pending.indexOf('\n')) >= 0) {
            const QByteArray line = reading->pending.left(end);
            reading->pending.remove(0, end + 1);
            QStringDecoder decoder(QStringDecoder::Utf8);
            const QStringList fields = QString(decoder.decode(line)).split(u'\t');
            if (fields.size() == 3 && fields[0] == u"file") {
                reading->outcome.files.append({joinPath(destination, fields[2]), fields[1].toLongLong()});
            } else if (fields.size() == 2 && fields[0] == u"unreadable") {
                log(QStringLiteral("The deleted file %1 could not be read from the disk and was skipped.")
                        .arg(joinPath(destination, fields[1])));
            } else if (fields.size() == 3 && fields[0] == u"done") {
                reading->outcome.inUse = fields[2].toLongLong();
            } else if (fields.size() == 3 && fields[0] == u"unwritable") {
                if (fields[1].isEmpty()) {
                    reading->sawError = true;
                    log(QStringLiteral("Restoring deleted files stopped: %1 cannot be written to (%2).")
                            .arg(destination, fields[2]));
                } else {
                    log(QStringLiteral(
                            "The deleted file %1 could not be written to the save location (%2) and "
                            "was skipped.")
                            .arg(joinPath(destination, fields[1]), fields[2]));
                }
            } else if (fields.size() == 2 && fields[0] == u"full") {
                reading->sawError = true;
                log(QStringLiteral(
                        "Restoring deleted files stopped: the save location cannot take more (%1).")
                        .arg(fields[1]));
            } else if (fields.size() == 2 && fields[0] == u"error") {
                reading->sawError = true;
                log(QStringLiteral(
                        "The file system's records could not be read to their end (%1); the search "
                        "goes on with PhotoRec.")
                        .arg(fields[1]));
            }
        }
    };
    handlers.exit = [ended](int exitStatus) { ended->set_value(exitStatus); };

    EngineLauncher::Command command{helper, {destination}, recoveryDirectory, sourceDescriptor};
    std::shared_ptr<EngineProcess> process = launcher.makeProcess(std::move(command), std::move(handlers));
    if (!process || process->launch()) {
        log(QStringLiteral("Vellorin's reader of deleted files (%1) could not be started; the search goes on "
                           "with PhotoRec.")
                .arg(helper));
        return {};
    }
    if (running)
        running(process);
    const int exitStatus = status.get();
    if (running)
        running(nullptr);

    std::lock_guard guard(reading->lock);
    Outcome outcome = reading->outcome;
    if (exitStatus == kHelperNoFileSystem) {
        log(QStringLiteral("No file system whose records of deleted files can be read was found; the search "
                           "goes on with PhotoRec."));
        return {};
    }
    if (exitStatus != kHelperDone && !(exitStatus == kHelperRecordsFailed && reading->sawError))
        log(QStringLiteral("Reading the file system's records stopped unexpectedly (status %1); the search "
                           "goes on with PhotoRec.")
                .arg(exitStatus));
    outcome.read = true;
    return outcome;
}

QString NamesStep::summary(const Outcome& outcome) {
    return QStringLiteral(
               "Restored %1 deleted files with their names (%2 could not be restored: their space is "
               "in use again).")
        .arg(outcome.files.size())
        .arg(outcome.inUse);
}

} // namespace vellorin
