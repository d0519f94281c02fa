#include "platform/Accounts.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellorin::accounts {

namespace {

std::optional<Account> accountOf(uid_t uid) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
    struct passwd entry {};
    struct passwd* found = nullptr;
    while (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (!found)
        return std::nullopt;
    return Account{found->pw_uid, found->pw_gid, QString::fromLocal8Bit(found->pw_name),
                   QString::fromLocal8Bit(found->pw_dir)};
}

} // namespace

bool runningAsRoot() {
    return ::geteuid() == 0;
}

std::optional<Account> ownerOfFolder(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return accountOf(info.st_uid);
}

std::optional<QString> whyOthersCouldRedirect(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty())
        return QStringLiteral("%1 cannot be found").arg(folder);
    // From the folder itself up to "/": every step must be root's, and none writable by others
    // unless sticky (then others cannot move root's entries, and the next step is checked).
    QString step = canonical;
    bool below = false; // step holds the folder root writes in, or one of its parents
    while (true) {
        struct stat info {};
        if (::lstat(QFile::encodeName(step).constData(), &info) != 0)
            return QStringLiteral("%1 cannot be examined").arg(step);
        if (info.st_uid != 0)
            return QStringLiteral("%1 belongs to another user").arg(step);
        const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        const bool groupIsRoot = info.st_gid == 0;
        const bool sticky = (info.st_mode & S_ISVTX) != 0;
        // Root's own group writing is root writing; a sticky parent keeps root's entries root's.
        if (othersWrite && !(groupIsRoot && (info.st_mode & S_IWOTH) == 0) && !(below && sticky))
            return QStringLiteral("other users may write to %1").arg(step);
        if (step == QStringLiteral("/"))
            return std::nullopt;
        below = true;
        const qsizetype slash = step.lastIndexOf(QLatin1Char('/'));
        step = slash <= 0 ? QStringLiteral("/") : step.left(slash);
    }
}

std::optional<Error> become(const Account& account) {
    const QByteArray name = account.name.toLocal8Bit();
    if (::initgroups(name.constData(), account.gid) != 0 || ::setgid(account.gid) != 0 ||
        ::setuid(account.uid) != 0)
        return Error::fromErrno(errno);
    // Root's rights are gone only if they cannot be taken back.
    if (account.uid != 0 && (::setuid(0) == 0 || ::geteuid() != account.uid || ::getegid() != account.gid))
        return Error::fromErrno(EPERM);
    // Giving up root made the process undumpable, and its /proc entries root's: the user it now
    // is may look at it (and its crash leaves a core), as at any program of theirs.
    ::prctl(PR_SET_DUMPABLE, 1);
    qputenv("HOME", QFile::encodeName(account.home));
    qputenv("USER", name);
    qputenv("LOGNAME", name);
    const QString runtime = QStringLiteral("/run/user/%1").arg(account.uid);
    struct stat info {};
    if (::lstat(QFile::encodeName(runtime).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == account.uid)
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    else
        qunsetenv("XDG_RUNTIME_DIR");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    return std::nullopt;
}

} // namespace vellorin::accounts
