#include "support/Fakes.h"

#include "platform/ExecutableResources.h"
#include "platform/LsblkOutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <filesystem>
#include <fstream>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellorin::test {

QStringList logMessages(const QString& logText) {
    static const QRegularExpression stamp(u"^\\[[^\\]]*\\] "_s);
    return (logText.isEmpty() ? QStringList() : logText.chopped(1).split(u'\n'))
        .replaceInStrings(stamp, QString());
}

void settle(QtQueues& queues) {
    // Workers and the main queue feed each other: settled once both are empty twice running.
    for (int quiet = 0; quiet < 2; quiet = queues.pendingMainTasks() == 0 ? quiet + 1 : 0) {
        queues.waitForWorkers();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // processEvents() at this loop level leaves deleteLater() undone.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(5);
    }
}

void spin(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

RecoveryWatcher::RecoveryWatcher(RecoveryViewModel& model) {
    QObject::connect(&model, &RecoveryViewModel::isRecoveringChanged, &receiver, [this, &model] {
        if (model.isRecovering())
            started = true;
        else if (started)
            ended = true;
    });
}

bool RecoveryWatcher::waitForEnd(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!ended && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    if (ended)
        spin(150);
    return ended;
}

QString makeResourceFolder(const QString& parent, const QByteArray& script, bool withEngine) {
    const QString folder = parent + u"/share/vellorin"_s;
    writeFile(folder + u"/photorec_auto.sh"_s, script);
    if (withEngine)
        writeFile(folder + u"/photorec"_s, "#!/bin/sh\nexit 99\n");
    return folder;
}

QString copyEngineFolder(const QString& parent, const QByteArray& engine) {
    const QString built = ExecutableResources().resourceFolder().value_or(QString());
    const QString folder = parent + u"/share/vellorin"_s, helpers = parent + u"/libexec/vellorin"_s;
    QDir().mkpath(folder), QDir().mkpath(helpers);
    QFile::copy(built + u"/photorec_auto.sh"_s, folder + u"/photorec_auto.sh"_s);
    for (const QString& helper : {u"vellorin-source-view"_s, u"vellorin-deleted-files"_s})
        QFile::copy(built + u"/../../libexec/vellorin/"_s + helper, helpers + u'/' + helper);
    if (engine.isEmpty())
        QFile::link(QFileInfo(built + u"/photorec"_s).canonicalFilePath(), folder + u"/photorec"_s);
    else
        writeFile(folder + u"/photorec"_s, engine);
    for (const QString& path : {parent, parent + u"/share"_s, folder, parent + u"/libexec"_s, helpers,
                                folder + u"/photorec_auto.sh"_s, folder + u"/photorec"_s,
                                helpers + u"/vellorin-source-view"_s, helpers + u"/vellorin-deleted-files"_s})
        ::chmod(QFile::encodeName(path).constData(), 0755);
    return folder;
}

const QByteArray kNotingEngine =
    "#!/bin/bash\nprintf '%s %s\\n' \"$(id -u)\" \"$(awk '/^Uid:/ { print $3 }' "
    "/proc/$PPID/status)\" >> \"${0%/*}/credentials\"\nexec /usr/bin/photorec \"$@\"\n";

QStringList takeCredentials(const QString& resourceFolder) {
    const QString path = resourceFolder + u"/credentials"_s;
    const QStringList noted = QString::fromUtf8(readFile(native(path))).split(u'\n', Qt::SkipEmptyParts);
    writeFile(path, ""); // anyone's engine may note itself next
    ::chmod(QFile::encodeName(path).constData(), 0666);
    return noted;
}

QString tsanOptionsReadableIn(const QString& folder) {
    const QString tsan = qEnvironmentVariable("TSAN_OPTIONS"), supp = tsan.section(u"suppressions="_s, 1);
    const QString copy = folder + u"/tsan.supp"_s;
    if (supp.isEmpty() || (!QFile::exists(copy) && !QFile::copy(supp, copy)))
        return tsan;
    ::chmod(QFile::encodeName(copy).constData(), 0644);
    return QString(tsan).replace(supp, copy);
}

int rerunAsNobody(const char* testFunction) {
    const passwd* nobody = ::getpwnam("nobody");
    // A copy in a folder everyone may enter: the build folder may sit below one they may not.
    QTemporaryDir folder(QDir::tempPath() + u"/vellorin-unprivileged-XXXXXX"_s);
    const QString copy = folder.filePath(u"suite"_s);
    if (!nobody || !QFile::copy(QCoreApplication::applicationFilePath(), copy))
        return -1;
    ::chmod(QFile::encodeName(folder.path()).constData(), 0755);
    const QString tsan = qEnvironmentVariable("TSAN_OPTIONS");
    qputenv("TSAN_OPTIONS", tsanOptionsReadableIn(folder.path()).toUtf8());
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setChildProcessModifier([user = *nobody] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.pw_gid) != 0 || ::setuid(user.pw_uid) != 0)
            ::_exit(126);
    });
    child.start(copy, {QString::fromLatin1(testFunction)});
    const bool ended = child.waitForFinished(300000);
    qputenv("TSAN_OPTIONS", tsan.toUtf8()); // the copy goes with its folder
    return ended && child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

std::string native(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

void writeFile(const std::string& path, const QByteArray& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.constData(), bytes.size());
}

void writeFile(const QString& path, const QByteArray& bytes) {
    writeFile(native(path), bytes);
}

QByteArray readFile(const std::string& path) {
    // In one read: byte by byte, the fault suite's trees take minutes under ThreadSanitizer.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    QByteArray bytes(qsizetype(std::max<std::streamoff>(in.tellg(), 0)), Qt::Uninitialized);
    in.seekg(0).read(bytes.data(), bytes.size());
    return bytes;
}

QStringList listTree(const QString& root) {
    QStringList files;
    std::error_code ec;
    const std::filesystem::path base(native(root));
    for (auto it = std::filesystem::recursive_directory_iterator(base, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_directory(ec) || it->is_symlink(ec))
            files.append(QFile::decodeName(QByteArray::fromStdString(it->path().lexically_relative(base))));
    }
    files.sort();
    return files;
}

RecordedBlockDevices::RecordedBlockDevices(const QString& recording, QHash<QString, QString> mounts)
    : mounts(std::move(mounts)) {
    QFile file(qEnvironmentVariable("VELLORIN_SOURCE_DIR") + u"/tests/data/lsblk/"_s + recording +
               u".json"_s);
    if (file.open(QIODevice::ReadOnly))
        json = file.readAll();
}

std::variant<QList<BlockDevice>, QString> RecordedBlockDevices::list() {
    return parseLsblkOutput(json, [this](const QString& name) { return images.value(name); });
}

QString RecordedBlockDevices::deviceHolding(const QString& path) {
    QString best;
    QString device;
    for (auto it = mounts.cbegin(); it != mounts.cend(); ++it) {
        const QString& point = it.key();
        const bool holds = path == point || point == u"/"_s || path.startsWith(point + u'/');
        if (holds && point.size() > best.size())
            best = point, device = it.value();
    }
    return device;
}

} // namespace vellorin::test
