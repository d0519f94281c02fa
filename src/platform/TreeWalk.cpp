#include "platform/TreeWalk.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vellorin {

namespace {

constexpr std::array<std::string_view, 27> kPseudoTypes{
    "proc",      "sysfs",        "devtmpfs", "devpts",    "cgroup",       "cgroup2", "debugfs",
    "tracefs",   "securityfs",   "pstore",   "bpf",       "configfs",     "fusectl", "mqueue",
    "hugetlbfs", "binfmt_misc",  "efivarfs", "selinuxfs", "nsfs",         "autofs",  "rpc_pipefs",
    "nfsd",      "ramfs_kernel", "sockfs",   "pipefs",    "anon_inodefs", "devfs"};

// Magic numbers for when the mount table cannot be read (devtmpfs reports tmpfs's).
constexpr std::array<unsigned long, 19> kPseudoMagics{PROC_SUPER_MAGIC,
                                                      SYSFS_MAGIC,
                                                      DEVPTS_SUPER_MAGIC,
                                                      CGROUP_SUPER_MAGIC,
                                                      CGROUP2_SUPER_MAGIC,
                                                      DEBUGFS_MAGIC,
                                                      TRACEFS_MAGIC,
                                                      SECURITYFS_MAGIC,
                                                      PSTOREFS_MAGIC,
                                                      BPF_FS_MAGIC,
                                                      0x62656570UL /* configfs */,
                                                      0x65735543UL /* fusectl */,
                                                      0x19800202UL /* mqueue */,
                                                      HUGETLBFS_MAGIC,
                                                      BINFMTFS_MAGIC,
                                                      EFIVARFS_MAGIC,
                                                      SELINUX_MAGIC,
                                                      NSFS_MAGIC,
                                                      0x0187UL /* autofs */};

struct Frame {
    DIR* dir;
    std::size_t relativeLength;
    dev_t device;
};

// A deep tree holds one descriptor per level; use what the hard limit allows.
void raiseDescriptorLimit() {
    static const bool done = [] {
        struct rlimit limit {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 65536);
            (void)::setrlimit(RLIMIT_NOFILE, &limit);
        }
        return true;
    }();
    (void)done;
}

void appendComponent(std::string& relative, const char* name) {
    if (!relative.empty())
        relative.push_back('/');
    relative.append(name);
}

} // namespace

PseudoFileSystems::PseudoFileSystems() {
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        // id parent major:minor root mountpoint options [optional fields] - fstype source ...
        std::istringstream fields(line);
        std::string id, parent, majorMinor;
        fields >> id >> parent >> majorMinor;
        const auto dash = line.find(" - ");
        if (dash == std::string::npos)
            continue;
        std::istringstream tail(line.substr(dash + 3));
        std::string type;
        tail >> type;
        if (std::find(kPseudoTypes.begin(), kPseudoTypes.end(), type) == kPseudoTypes.end())
            continue;
        unsigned major = 0, minor = 0;
        if (std::sscanf(majorMinor.c_str(), "%u:%u", &major, &minor) == 2)
            devices_.push_back(makedev(major, minor));
    }
}

bool PseudoFileSystems::contains(dev_t device, int openFolderFd) const {
    if (std::find(devices_.begin(), devices_.end(), device) != devices_.end())
        return true;
    struct statfs info {};
    if (::fstatfs(openFolderFd, &info) != 0)
        return false;
    const auto magic = static_cast<unsigned long>(info.f_type);
    return std::find(kPseudoMagics.begin(), kPseudoMagics.end(), magic) != kPseudoMagics.end();
}

std::variant<EntryStat, Error> statAt(int directoryFd, const char* name, bool followLink) {
    struct statx sx {};
    const unsigned mask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_BTIME | STATX_MTIME | STATX_ATIME;
    const int flags = AT_NO_AUTOMOUNT | (followLink ? 0 : AT_SYMLINK_NOFOLLOW);
    if (::statx(directoryFd, name, flags, mask, &sx) != 0)
        return Error::fromErrno(errno);
    EntryStat result;
    result.size = static_cast<std::int64_t>(sx.stx_size);
    result.mode = sx.stx_mode;
    if (sx.stx_mask & STATX_BTIME) {
        result.hasBirthTime = true;
        result.birthTimeMs = sx.stx_btime.tv_sec * 1000LL + sx.stx_btime.tv_nsec / 1'000'000;
    }
    result.accessTime = {static_cast<time_t>(sx.stx_atime.tv_sec), static_cast<long>(sx.stx_atime.tv_nsec)};
    result.modifyTime = {static_cast<time_t>(sx.stx_mtime.tv_sec), static_cast<long>(sx.stx_mtime.tv_nsec)};
    return result;
}

std::optional<unsigned char> entryType(int folderFd, const dirent& item) {
    if (item.d_type != DT_UNKNOWN)
        return item.d_type;
    struct stat st {};
    if (::fstatat(folderFd, item.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return S_ISDIR(st.st_mode)   ? DT_DIR
           : S_ISREG(st.st_mode) ? DT_REG
           : S_ISLNK(st.st_mode) ? DT_LNK
                                 : DT_FIFO;
}

std::optional<Error> walkTree(const std::string& root, const WalkOptions& options, WalkVisitor& visitor) {
    return walkTree(root, options, visitor, ::readdir);
}

std::optional<Error> walkTree(const std::string& root, const WalkOptions& options, WalkVisitor& visitor,
                              const ReadDirectory& readDirectory) {
    raiseDescriptorLimit();
    const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0)
        return Error::fromErrno(errno);
    struct stat rootStat {};
    if (::fstat(rootFd, &rootStat) != 0) {
        const int err = errno;
        ::close(rootFd);
        return Error::fromErrno(err);
    }
    const PseudoFileSystems pseudo;
    if (pseudo.contains(rootStat.st_dev, rootFd)) {
        ::close(rootFd);
        return std::nullopt;
    }
    DIR* rootDir = ::fdopendir(rootFd);
    if (rootDir == nullptr) {
        const int err = errno;
        ::close(rootFd);
        return Error::fromErrno(err);
    }

    std::vector<Frame> stack{{rootDir, 0, rootStat.st_dev}};
    std::string relative;
    relative.reserve(4096);

    while (!stack.empty()) {
        if (visitor.walkEnded()) {
            for (Frame& frame : stack)
                ::closedir(frame.dir);
            break;
        }
        Frame& top = stack.back();
        errno = 0;
        const dirent* item = readDirectory(top.dir);
        if (item == nullptr) {
            // A failing disk can break a listing off halfway: what it held is lost to this
            // walk, so the folder is reported rather than taken as complete.
            if (const int err = errno; err != 0) {
                relative.resize(top.relativeLength);
                visitor.folderError(relative, Error::fromErrno(err));
            }
            ::closedir(top.dir);
            stack.pop_back();
            if (!stack.empty())
                relative.resize(stack.back().relativeLength);
            continue;
        }
        const char* name = item->d_name;
        if (name[0] == '.') // hidden entries, "." and ".." included
            continue;

        const int folderFd = ::dirfd(top.dir);
        relative.resize(top.relativeLength);
        appendComponent(relative, name);
        const std::optional<unsigned char> kind = entryType(folderFd, *item);
        if (!kind) {
            visitor.entryError(relative, Error::fromErrno(errno));
            continue;
        }
        const unsigned char type = *kind;

        if (type == DT_DIR) {
            const int childFd = ::openat(folderFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (childFd < 0) {
                visitor.folderError(relative, Error::fromErrno(errno));
                continue;
            }
            struct stat childStat {};
            if (::fstat(childFd, &childStat) != 0) {
                visitor.folderError(relative, Error::fromErrno(errno));
                ::close(childFd);
                continue;
            }
            const FileId id{childStat.st_dev, childStat.st_ino};
            const bool excluded = options.excludedFolder && *options.excludedFolder == id;
            const bool pseudoMount =
                childStat.st_dev != top.device && pseudo.contains(childStat.st_dev, childFd);
            if (excluded || pseudoMount) {
                ::close(childFd);
                continue;
            }
            DIR* child = ::fdopendir(childFd);
            if (child == nullptr) {
                visitor.folderError(relative, Error::fromErrno(errno));
                ::close(childFd);
                continue;
            }
            stack.push_back({child, relative.size(), childStat.st_dev});
            continue;
        }
        if (type != DT_REG && type != DT_LNK)
            continue; // FIFOs, sockets and device nodes hold nothing to recover, and reading them can hang

        WalkEntry entry;
        entry.directoryFd = folderFd;
        entry.name = name;
        entry.relativePath = relative;
        entry.isSymlink = type == DT_LNK;
        visitor.visitFile(entry);
    }
    return std::nullopt;
}

} // namespace vellorin
