#include "platform/PosixFileSystem.h"

#include "platform/FastDigest.h"

#include "platform/FileCopier.h"
#include "platform/TreeWalk.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellorin {

std::string nativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

namespace {

std::optional<Error> errnoError() {
    return Error::fromErrno(errno);
}

// mkdir -p on bytes. An existing folder counts as success; an existing file does not.
int makeDirectories(const std::string& path) {
    if (path.empty())
        return ENOENT;
    if (::mkdir(path.c_str(), 0777) == 0)
        return 0;
    int err = errno;
    if (err == EEXIST) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return 0;
        return EEXIST;
    }
    if (err != ENOENT)
        return err;
    const auto slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
    if (slash == std::string::npos || slash == 0)
        return err;
    if (int parent = makeDirectories(path.substr(0, slash)); parent != 0)
        return parent;
    if (::mkdir(path.c_str(), 0777) == 0)
        return 0;
    err = errno;
    struct stat st {};
    if (err == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return 0;
    return err;
}

} // namespace

bool PosixFileSystem::exists(const QString& path) {
    struct stat st {};
    return ::stat(nativePath(path).c_str(), &st) == 0;
}

bool PosixFileSystem::isDirectory(const QString& path) {
    struct stat st {};
    return ::stat(nativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFileSystem::isReadable(const QString& path) {
    return ::faccessat(AT_FDCWD, nativePath(path).c_str(), R_OK, AT_EACCESS) == 0;
}

std::optional<Error> PosixFileSystem::createDirectories(const QString& path) {
    if (int err = makeDirectories(nativePath(path)); err != 0)
        return Error::fromErrno(err);
    return std::nullopt;
}

std::optional<Error> PosixFileSystem::createPrivateDirectory(const QString& path) {
    const std::string native = nativePath(path);
    if (::mkdir(native.c_str(), 0700) != 0 && errno != EEXIST)
        return errnoError();
    // Opened without following a link, so that the folder checked is the folder made private.
    const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errnoError();
    struct stat st {};
    const bool ours = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && ::fchmod(fd, 0700) == 0;
    ::close(fd);
    if (ours)
        return std::nullopt;
    Error error = Error::fromErrno(EPERM);
    error.description = path + QStringLiteral(" belongs to another user");
    return error;
}

std::optional<Error> PosixFileSystem::removeItem(const QString& path) {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(nativePath(path)), ec);
    if (ec)
        return Error::fromErrno(ec.value());
    return std::nullopt;
}

std::variant<QByteArray, Error> PosixFileSystem::readSmallFile(const QString& path, qint64 limit) {
    const int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return Error::fromErrno(errno);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > limit) {
        const int err = !S_ISREG(status.st_mode) ? EINVAL : EFBIG;
        ::close(fd);
        return Error::fromErrno(err);
    }
    // Room for what the file held when looked at, and some growth since, not for the limit:
    // a generous limit must not cost its size in memory. One byte more tells a file too large.
    const qint64 room = std::min<qint64>(limit, static_cast<qint64>(status.st_size) + 65536);
    QByteArray data(static_cast<qsizetype>(room) + 1, Qt::Uninitialized);
    qsizetype have = 0;
    while (have < data.size()) {
        const ssize_t n = ::read(fd, data.data() + have, static_cast<size_t>(data.size() - have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return Error::fromErrno(err);
        }
        if (n == 0)
            break;
        have += n;
    }
    ::close(fd);
    if (have > room)
        return Error::fromErrno(EFBIG);
    data.truncate(have);
    return data;
}

std::optional<Error> PosixFileSystem::writeAtomically(const QString& path, const QByteArray& data) {
    const std::string target = nativePath(path);
    const auto slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = folder + ".vellorin-" + std::to_string(QRandomGenerator::global()->generate64()) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            return errnoError();
    }
    if (fd < 0)
        return errnoError();
    const char* bytes = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, bytes, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            return Error::fromErrno(err);
        }
        bytes += n;
        left -= n;
    }
    if (::close(fd) != 0 || ::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return Error::fromErrno(err);
    }
    return std::nullopt;
}

QStringList PosixFileSystem::childFolders(const QString& path) {
    QStringList folders;
    DIR* listing = ::opendir(nativePath(path).c_str());
    if (!listing)
        return folders;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat status {};
        if (::fstatat(::dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(status.st_mode))
            folders.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(listing);
    return folders;
}

namespace {

// A regular file opened for reading, never through a link; closed when it goes.
struct OpenFile {
    int fd = -1;
    std::int64_t size = 0;
    int error = 0;
    explicit OpenFile(const std::string& path) {
        fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        struct stat status {};
        if (fd < 0)
            error = errno;
        else if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
            error = EINVAL;
        else
            size = status.st_size;
    }
    ~OpenFile() {
        if (fd >= 0)
            ::close(fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    // Fills the buffer up to its size or the end; -1 with error set when a read failed.
    ssize_t fill(std::vector<char>& buffer) {
        std::size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t got = ::read(fd, buffer.data() + done, buffer.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                error = errno;
                return -1;
            }
            if (got == 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        return static_cast<ssize_t>(done);
    }
};

constexpr std::size_t kCompareChunk = 1 << 20;

// Small files, the most of a search's output, are read in one piece no larger than
// themselves: a megabyte cleared for each would cost more than reading them.
std::size_t chunkFor(std::int64_t size) {
    return static_cast<std::size_t>(std::clamp<std::int64_t>(size + 1, 4096, kCompareChunk));
}

} // namespace

std::variant<QByteArray, Error> PosixFileSystem::contentDigest(const QString& path) {
    OpenFile file(nativePath(path));
    if (file.error)
        return Error::fromErrno(file.error);
    QCryptographicHash digest(QCryptographicHash::Blake2b_256);
    std::vector<char> buffer(kCompareChunk);
    for (ssize_t got; (got = file.fill(buffer)) > 0;)
        digest.addData(QByteArrayView(buffer.data(), got));
    if (file.error)
        return Error::fromErrno(file.error);
    return digest.result();
}

std::variant<bool, Error> PosixFileSystem::sameContent(const QString& first, const QString& second) {
    OpenFile one(nativePath(first)), other(nativePath(second));
    if (one.error || other.error)
        return Error::fromErrno(one.error ? one.error : other.error);
    if (one.size != other.size)
        return false;
    std::vector<char> left(chunkFor(one.size)), right(chunkFor(one.size));
    for (;;) {
        const ssize_t got = one.fill(left), gotOther = other.fill(right);
        if (got < 0 || gotOther < 0)
            return Error::fromErrno(one.error ? one.error : other.error);
        if (got != gotOther || std::memcmp(left.data(), right.data(), static_cast<std::size_t>(got)) != 0)
            return false;
        if (got == 0)
            return true;
    }
}

std::variant<QByteArray, Error> PosixFileSystem::fastDigest(const QString& path) {
    OpenFile file(nativePath(path));
    if (file.error)
        return Error::fromErrno(file.error);
    FastDigest digest;
    std::vector<char> buffer(chunkFor(file.size));
    for (ssize_t got; (got = file.fill(buffer)) > 0;)
        digest.add(buffer.data(), static_cast<std::size_t>(got));
    if (file.error)
        return Error::fromErrno(file.error);
    return digest.result();
}

std::variant<QByteArray, Error> PosixFileSystem::readHead(const QString& path, qint64 limit) {
    OpenFile file(nativePath(path));
    if (file.error)
        return Error::fromErrno(file.error);
    std::vector<char> buffer(static_cast<std::size_t>(std::clamp<std::int64_t>(
        std::min<std::int64_t>(limit, file.size), 0, std::numeric_limits<int>::max())));
    const ssize_t got = file.fill(buffer);
    if (got < 0)
        return Error::fromErrno(file.error);
    return QByteArray(buffer.data(), static_cast<qsizetype>(got));
}

std::optional<Error> PosixFileSystem::moveItem(const QString& from, const QString& to) {
    const std::string source = nativePath(from), target = nativePath(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return std::nullopt;
    if (errno != EINVAL && errno != ENOSYS)
        return Error::fromErrno(errno);
    // A file system that cannot refuse to replace: a hard link cannot replace either, and
    // where there are none, the check just before the rename is the best there is.
    if (::link(source.c_str(), target.c_str()) == 0) {
        ::unlink(source.c_str());
        return std::nullopt;
    }
    if (errno == EEXIST)
        return Error::fromErrno(EEXIST);
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0)
        return Error::fromErrno(EEXIST);
    if (::rename(source.c_str(), target.c_str()) != 0)
        return Error::fromErrno(errno);
    return std::nullopt;
}

std::optional<Error> PosixFileSystem::removeEmptyFolder(const QString& path) {
    const std::string native = nativePath(path);
    struct stat st {};
    if (::lstat(native.c_str(), &st) != 0)
        return Error::fromErrno(errno);
    if (!S_ISDIR(st.st_mode))
        return Error::fromErrno(ENOTDIR);
    if (::rmdir(native.c_str()) != 0)
        return Error::fromErrno(errno);
    return std::nullopt;
}

bool PosixFileSystem::entryExists(const QString& path) {
    struct stat st {};
    return ::lstat(nativePath(path).c_str(), &st) == 0;
}

std::optional<FileId> PosixFileSystem::fileId(const QString& path) {
    struct stat st {};
    if (::stat(nativePath(path).c_str(), &st) != 0)
        return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

bool PosixFileSystem::startAccessing(const QString& path) {
    const std::string native = nativePath(path);
    struct stat st {};
    return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::faccessat(AT_FDCWD, native.c_str(), R_OK | X_OK, AT_EACCESS) == 0;
}

void PosixFileSystem::stopAccessing(const QString&) {}

std::optional<Error> PosixFileSystem::walk(const QString& root, const WalkOptions& options,
                                           WalkVisitor& visitor) {
    return walkTree(nativePath(root), options, visitor);
}

namespace {

FolderStamp stampOf(const struct stat& st) {
    return {FileId{st.st_dev, st.st_ino}, st.st_mtim, st.st_ctim};
}

} // namespace

std::optional<FolderStamp> PosixFileSystem::folderStamp(const QString& path) {
    struct stat st {};
    if (::lstat(nativePath(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return stampOf(st);
}

std::variant<FolderStamp, Error> PosixFileSystem::listFolder(const QString& path, FolderVisitor& visitor) {
    const int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Error::fromErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return Error::fromErrno(err);
    }
    const FolderStamp stamp = stampOf(st);
    static const PseudoFileSystems pseudo;
    if (pseudo.contains(st.st_dev, fd)) {
        ::close(fd);
        return stamp;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        const int err = errno;
        ::close(fd);
        return Error::fromErrno(err);
    }
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(dir);
        if (item == nullptr) {
            const int err = errno;
            ::closedir(dir);
            if (err != 0)
                return Error::fromErrno(err);
            return stamp;
        }
        const char* name = item->d_name;
        if (name[0] == '.') // hidden entries, "." and ".." included
            continue;
        const std::optional<unsigned char> type = entryType(::dirfd(dir), *item);
        if (!type)
            continue; // its kind cannot be read: listed again at the next change
        if (type == DT_DIR) {
            visitor.visitFolder(name);
        } else if (type == DT_REG || type == DT_LNK) {
            WalkEntry entry;
            entry.directoryFd = ::dirfd(dir);
            entry.name = name;
            entry.relativePath = name;
            entry.isSymlink = type == DT_LNK;
            visitor.visitFile(entry);
        }
    }
}

std::variant<EntryStat, Error> PosixFileSystem::statEntry(const WalkEntry& entry) {
    return statAt(entry.directoryFd, entry.name);
}

std::variant<EntryStat, Error> PosixFileSystem::statLinkTarget(const WalkEntry& entry) {
    return statAt(entry.directoryFd, entry.name, true);
}

std::unique_ptr<TreeCopier> PosixFileSystem::makeCopier(const QString& destinationRoot) {
    return std::make_unique<FileCopier>(nativePath(destinationRoot));
}

void PosixFileSystem::removeLeftoverCopies(const QString& folder, const QDateTime& notAfter) {
    namespace fs = std::filesystem;
    const qint64 limitMs = notAfter.toMSecsSinceEpoch();
    std::error_code ec;
    // Links are never followed: only what lies inside the folder itself is looked at.
    fs::recursive_directory_iterator it(fs::path(nativePath(folder)),
                                        fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& path = it->path();
        if (!FileCopier::isTemporaryName(path.filename().native()))
            continue;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        // A newer one may belong to a copy that another run is making right now.
        if (st.st_mtim.tv_sec * 1000LL + st.st_mtim.tv_nsec / 1'000'000 > limitMs)
            continue;
        ::unlink(path.c_str());
    }
}

} // namespace vellorin
