#include "platform/SourceIdentity.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace vellorin {

QByteArray sourceIdentity(int descriptor, const QString& path) {
    constexpr qsizetype kBytes = 1024 * 1024;
    int fd = descriptor;
    if (fd < 0)
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray head(kBytes, Qt::Uninitialized);
    qsizetype have = 0;
    while (have < kBytes) {
        const ssize_t got = ::pread(fd, head.data() + have, static_cast<size_t>(kBytes - have), have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        have += got;
    }
    if (fd != descriptor)
        ::close(fd);
    if (have == 0)
        return {};
    head.truncate(have);
    return QCryptographicHash::hash(head, QCryptographicHash::Sha256).toHex();
}

qint64 sourceSize(int descriptor, const QString& path) {
    int fd = descriptor;
    if (fd < 0)
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (fd != descriptor)
        ::close(fd);
    return size > 0 ? static_cast<qint64>(size) : 0;
}

} // namespace vellorin
