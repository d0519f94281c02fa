#include "support/Unprivileged.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

namespace vellorin::test {

int rerunAsNobody(const char* testFunction) {
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) {
        qWarning("no user 'nobody' on this machine");
        return -1;
    }
    // The build folder may sit below a folder that only root may enter: run a copy of this
    // executable from a folder everyone may read.
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/vellorin-unprivileged-XXXXXX"));
    if (!folder.isValid())
        return -1;
    ::chmod(QFile::encodeName(folder.path()).constData(), 0755);
    const QString copy = folder.filePath(QStringLiteral("suite"));
    if (!QFile::copy(QCoreApplication::applicationFilePath(), copy))
        return -1;
    ::chmod(QFile::encodeName(copy).constData(), 0755);

    QProcess child;
    child.setProgram(copy);
    child.setArguments({QString::fromLatin1(testFunction)});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), QDir::tempPath());
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    child.setChildProcessModifier([uid, gid] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(126);
    });
    child.start();
    if (!child.waitForFinished(300000))
        return -1;
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

} // namespace vellorin::test
