#include "support/RawTree.h"

#include <QCryptographicHash>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace vellorin::test {

namespace {

QByteArray readAll(int fd) {
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    return bytes;
}

char typeOf(mode_t mode) {
    if (S_ISREG(mode))
        return 'f';
    if (S_ISDIR(mode))
        return 'd';
    if (S_ISLNK(mode))
        return 'l';
    if (S_ISFIFO(mode))
        return 'p';
    if (S_ISSOCK(mode))
        return 's';
    if (S_ISCHR(mode))
        return 'c';
    return S_ISBLK(mode) ? 'b' : '?';
}

void readFolder(int folderFd, const std::string& prefix, bool skipHidden, RawTree& tree) {
    const int listFd = ::dup(folderFd);
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || (skipHidden && name.front() == '.'))
            continue;
        names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        struct stat st {};
        if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        RawEntry entry;
        entry.type = typeOf(st.st_mode);
        entry.mode = st.st_mode & 07777;
        entry.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
        const std::string path = prefix.empty() ? name : prefix + "/" + name;
        if (entry.type == 'f') {
            const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                entry.content = readAll(fd);
                ::close(fd);
            }
        } else if (entry.type == 'l') {
            char target[4096];
            const ssize_t n = ::readlinkat(folderFd, name.c_str(), target, sizeof target);
            if (n > 0)
                entry.content = QByteArray(target, n);
        }
        tree[path] = entry;
        if (entry.type == 'd') {
            const int child =
                ::openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) {
                readFolder(child, path, skipHidden, tree);
                ::close(child);
            }
        }
    }
}

} // namespace

RawTree readRawTree(const QString& root, bool skipHidden) {
    RawTree tree;
    const int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        readFolder(fd, {}, skipHidden, tree);
        ::close(fd);
    }
    return tree;
}

QByteArray treeDigest(const QString& root) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const auto& [path, entry] : readRawTree(root)) {
        hash.addData(QByteArray::fromStdString(path));
        hash.addData(QByteArray(1, entry.type));
        hash.addData(QByteArray::number(entry.mode) + ':' + QByteArray::number(entry.mtimeNs) + ':');
        hash.addData(entry.type == 'd' ? QByteArray()
                                       : QCryptographicHash::hash(entry.content, QCryptographicHash::Sha256));
    }
    return hash.result().toHex();
}

bool writeDeepFile(const QString& root, const std::string& relativePath, const QByteArray& bytes) {
    int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t start = 0;
    while (fd >= 0) {
        const std::size_t slash = relativePath.find('/', start);
        const std::string component =
            relativePath.substr(start, slash == std::string::npos ? slash : slash - start);
        if (slash == std::string::npos) {
            const int out = ::openat(fd, component.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            ::close(fd);
            if (out < 0)
                return false;
            const bool ok =
                ::write(out, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
            return ::close(out) == 0 && ok;
        }
        ::mkdirat(fd, component.c_str(), 0755);
        const int next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
        start = slash + 1;
    }
    return false;
}

} // namespace vellorin::test
