#include "support/Fakes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <filesystem>
#include <fstream>

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
    QObject::connect(&model, &RecoveryViewModel::isRecoveringChanged, &model, [this, &model] {
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

QString makeResourceFolder(const QString& parent, const QByteArray& script, bool withScript,
                           bool withEngine) {
    const QString folder = parent + u"/share/vellorin"_s;
    QDir().mkpath(folder);
    if (withScript)
        writeFile(folder + u"/photorec_auto.sh"_s, script);
    if (withEngine)
        writeFile(folder + u"/photorec"_s, "#!/bin/sh\nexit 99\n");
    return folder;
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

} // namespace vellorin::test
