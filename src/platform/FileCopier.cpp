#include "platform/FileCopier.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellorin {

namespace {

constexpr std::size_t kBufferSize = 1 << 20;

constexpr std::string_view kTemporaryPrefix = ".vellorin-";
constexpr std::string_view kTemporarySuffix = ".part";
constexpr std::size_t kTemporaryDigits = 16;

// Made and recognised from the same three parts, so that the sweep of leftovers can never
// drift from the names the copies are written under.
std::string temporaryName() {
    char digits[kTemporaryDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx",
                  static_cast<unsigned long long>(QRandomGenerator::global()->generate64()));
    return std::string(kTemporaryPrefix) + digits + std::string(kTemporarySuffix);
}

constexpr std::size_t kNameMax = 255;

// "stem (k).ext", the ending taken from the last "." that does not begin the name. The stem
// gives way when the name would grow past what a folder entry can hold, cut at a character
// boundary so that a UTF-8 name stays valid.
std::string numberedName(const std::string& name, int k) {
    const auto dot = name.find_last_of('.');
    const std::string suffix = " (" + std::to_string(k) + ")";
    const bool hasEnding = dot != std::string::npos && dot != 0;
    std::string stem = hasEnding ? name.substr(0, dot) : name;
    const std::string ending = hasEnding ? name.substr(dot) : std::string();
    if (stem.size() + suffix.size() + ending.size() > kNameMax) {
        std::size_t keep =
            kNameMax > suffix.size() + ending.size() ? kNameMax - suffix.size() - ending.size() : 1;
        while (keep > 1 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
            --keep;
        stem.resize(std::min(keep, stem.size()));
    }
    return stem + suffix + ending;
}

} // namespace

bool FileCopier::isTemporaryName(std::string_view name) {
    if (name.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size() ||
        !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
        return false;
    const std::string_view digits = name.substr(kTemporaryPrefix.size(), kTemporaryDigits);
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

FileCopier::FileCopier(std::string destinationRoot) : root_(std::move(destinationRoot)) {}

FileCopier::~FileCopier() {
    if (cachedFd_ >= 0)
        ::close(cachedFd_);
}

std::string FileCopier::folderPath(std::string_view relativeFolder) const {
    std::string path = root_;
    if (!relativeFolder.empty()) {
        path.push_back('/');
        path.append(relativeFolder);
    }
    return path;
}

int FileCopier::destinationFolder(std::string_view relativeFolder, int& err) {
    if (cachedFd_ >= 0 && relativeFolder == cachedFolder_) {
        // The folder can be renamed or deleted while the run goes on; a copy must land where
        // the run says it does, so the open folder serves only while its path still names it.
        struct stat st {};
        if (::stat(folderPath(relativeFolder).c_str(), &st) == 0 && FileId{st.st_dev, st.st_ino} == cachedId_)
            return cachedFd_;
    }
    int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        // The recovery folder itself went away during the run: it is made again, as every
        // other destination folder is. Its parent is not: a save location that is gone (a disk
        // unplugged, its mount point removed) must not be made again on another disk.
        if (::mkdir(root_.c_str(), 0777) != 0 && errno != EEXIST) {
            err = errno;
            return -1;
        }
        fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (fd < 0) {
        err = errno;
        return -1;
    }
    std::size_t start = 0;
    while (start < relativeFolder.size()) {
        auto end = relativeFolder.find('/', start);
        if (end == std::string_view::npos)
            end = relativeFolder.size();
        const std::string component(relativeFolder.substr(start, end - start));
        start = end + 1;
        int next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(fd, component.c_str(), 0777) != 0 && errno != EEXIST) {
                err = errno;
                ::close(fd);
                return -1;
            }
            next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            err = errno;
            ::close(fd);
            return -1;
        }
        ::close(fd);
        fd = next;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        err = errno;
        ::close(fd);
        return -1;
    }
    if (cachedFd_ >= 0)
        ::close(cachedFd_);
    cachedFd_ = fd;
    cachedId_ = {opened.st_dev, opened.st_ino};
    cachedFolder_.assign(relativeFolder);
    return fd;
}

std::string FileCopier::freeName(int folderFd, const std::string& name) const {
    for (int k = 2;; ++k) {
        std::string candidate = numberedName(name, k);
        struct stat st {};
        // Free when nothing answers to it. Any other failure would repeat for every k, so
        // the name is handed on and the rename reports the reason.
        if (::fstatat(folderFd, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return candidate;
    }
}

int FileCopier::copyData(int in, int out) {
    // A reflink shares the blocks outright where the file system can.
    if (::ioctl(out, FICLONE, in) == 0)
        return 0;
    bool kernelCopy = true;
    for (;;) {
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return 0;
            if (errno == EINTR)
                continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                errno == EPERM || errno == ETXTBSY) {
                kernelCopy = false;
                continue;
            }
            return errno;
        }
        if (buffer_.empty())
            buffer_.resize(kBufferSize);
        const ssize_t n = ::read(in, buffer_.data(), buffer_.size());
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        const char* p = buffer_.data();
        ssize_t left = n;
        while (left > 0) {
            const ssize_t w = ::write(out, p, static_cast<size_t>(left));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            p += w;
            left -= w;
        }
    }
}

FileCopier::Result FileCopier::copy(const WalkEntry& entry, const EntryStat& stat) {
    Result result;
    const std::string_view relative = entry.relativePath;
    const auto slash = relative.find_last_of('/');
    const std::string_view folder =
        slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
    const std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));

    int err = 0;
    const int folderFd = destinationFolder(folder, err);
    if (folderFd < 0) {
        result.kind = Result::Kind::FolderFailed;
        result.error = Error::fromErrno(err);
        return result;
    }
    auto fail = [&](int errnum) {
        result.kind = Result::Kind::CopyFailed;
        result.error = Error::fromErrno(errnum);
        return result;
    };

    // What stands at the destination: a folder is never replaced, an earlier run's copy is,
    // and a copy made earlier in this run (a second name for the same item on a
    // case-insensitive save location) keeps its place while this one takes a free name.
    std::string finalName = name;
    struct stat existing {};
    if (::fstatat(folderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(existing.st_mode))
            return fail(EISDIR);
        if (written_.count(FileId{existing.st_dev, existing.st_ino}) != 0)
            finalName = freeName(folderFd, name);
    }

    std::string temp;
    FileId made{};
    if (entry.isSymlink) {
        std::string target(static_cast<std::size_t>(stat.size > 0 ? stat.size : 4096) + 1, '\0');
        const ssize_t n = ::readlinkat(entry.directoryFd, entry.name, target.data(), target.size());
        if (n < 0)
            return fail(errno);
        target.resize(static_cast<std::size_t>(n));
        int linkErr = EEXIST;
        for (int attempt = 0; attempt < 16 && linkErr == EEXIST; ++attempt) {
            temp = temporaryName();
            linkErr = ::symlinkat(target.c_str(), folderFd, temp.c_str()) == 0 ? 0 : errno;
        }
        if (linkErr != 0)
            return fail(linkErr);
        const struct timespec times[2] = {stat.accessTime, stat.modifyTime};
        (void)::utimensat(folderFd, temp.c_str(), times, AT_SYMLINK_NOFOLLOW);
        struct stat made_st {};
        if (::fstatat(folderFd, temp.c_str(), &made_st, AT_SYMLINK_NOFOLLOW) == 0)
            made = {made_st.st_dev, made_st.st_ino};
    } else {
        // O_NONBLOCK: should a FIFO have taken the file's place since the walk saw it, the
        // open must not wait for a writer.
        const int in = ::openat(entry.directoryFd, entry.name,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (in < 0)
            return fail(errno);
        struct stat source {};
        if (::fstat(in, &source) != 0 || !S_ISREG(source.st_mode)) {
            const int e = errno != 0 && !S_ISREG(source.st_mode) ? EINVAL : errno;
            ::close(in);
            return fail(e == 0 ? EINVAL : e);
        }
        int out = -1;
        for (int attempt = 0; attempt < 16 && out < 0; ++attempt) {
            temp = temporaryName();
            out = ::openat(folderFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (out < 0 && errno != EEXIST)
                break;
        }
        if (out < 0) {
            const int e = errno;
            ::close(in);
            return fail(e);
        }
        int copyErr = copyData(in, out);
        ::close(in);
        // Permission bits only: a set-user-ID, set-group-ID or sticky bit from the scanned
        // media must never reach a copy that the user may run.
        if (copyErr == 0 && ::fchmod(out, source.st_mode & 0777) != 0)
            copyErr = errno;
        const struct timespec times[2] = {source.st_atim, source.st_mtim};
        if (copyErr == 0 && ::futimens(out, times) != 0)
            copyErr = errno;
        struct stat made_st {};
        if (copyErr == 0 && ::fstat(out, &made_st) == 0)
            made = {made_st.st_dev, made_st.st_ino};
        if (::close(out) != 0 && copyErr == 0)
            copyErr = errno;
        if (copyErr != 0) {
            ::unlinkat(folderFd, temp.c_str(), 0);
            return fail(copyErr);
        }
    }

    // Rename last: an interrupted copy must never sit under the final name.
    if (::renameat(folderFd, temp.c_str(), folderFd, finalName.c_str()) != 0) {
        const int e = errno;
        ::unlinkat(folderFd, temp.c_str(), 0);
        return fail(e);
    }
    written_.insert(made);
    result.kind = Result::Kind::Copied;
    result.destination = folderPath(folder);
    result.destination.push_back('/');
    result.destination.append(finalName);
    return result;
}

} // namespace vellorin
