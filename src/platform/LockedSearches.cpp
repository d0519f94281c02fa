#include "platform/LockedSearches.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellorin {
namespace {

// Nothing when the lock is free or there is no lock file; else the open file, still unlocked.
int lockedFile(const QString& lockFile) {
    const int fd = ::open(QFile::encodeName(lockFile).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        ::close(fd); // closing lets go of our own shared lock
        return -1;
    }
    return fd;
}

bool lockFree(const QString& lockFile) {
    const int fd = lockedFile(lockFile);
    if (fd < 0)
        return true;
    ::close(fd);
    return false;
}

// Field 22 of /proc/PID/stat, when the process is this user's; empty otherwise.
QByteArray startTimeOf(qint64 pid) {
    const QByteArray folder = "/proc/" + QByteArray::number(pid);
    struct stat status {};
    if (::stat(folder.constData(), &status) != 0 || status.st_uid != ::getuid())
        return {};
    QFile stat(QString::fromLatin1(folder + "/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    const qsizetype nameEnd = text.lastIndexOf(") ");
    if (nameEnd < 0)
        return {};
    const QList<QByteArray> fields = text.mid(nameEnd + 2).split(' ');
    return fields.size() > 19 ? fields[19] : QByteArray();
}

bool waitUntilFree(const QString& lockFile, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!lockFree(lockFile)) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

std::optional<RunningSearches::Holder> LockedSearches::holder(const QString& lockFile) {
    const int fd = lockedFile(lockFile);
    if (fd < 0)
        return std::nullopt;
    char text[64] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    ::close(fd);
    const QList<QByteArray> fields = QByteArray(text, got > 0 ? got : 0).trimmed().split(' ');
    bool numeric = false;
    const qint64 pid = fields.value(0).toLongLong(&numeric);
    if (!numeric || pid <= 1)
        return Holder{0, false}; // held, but by no process that said who it is
    const bool leaderAlive = fields.size() == 2 && !fields[1].isEmpty() && startTimeOf(pid) == fields[1];
    return Holder{pid, leaderAlive};
}

bool LockedSearches::stop(const QString& lockFile, const Holder& holder, std::chrono::milliseconds grace) {
    if (holder.pid <= 1)
        return lockFree(lockFile);
    // The script ends its engine and view itself, and says so in its output; its group (it
    // leads a session of its own) is what is left when it is already gone.
    ::kill(holder.leaderAlive ? static_cast<pid_t>(holder.pid) : -static_cast<pid_t>(holder.pid), SIGTERM);
    if (waitUntilFree(lockFile, grace))
        return true;
    ::kill(-static_cast<pid_t>(holder.pid), SIGKILL);
    return waitUntilFree(lockFile, std::chrono::seconds(2));
}

} // namespace vellorin
