// vellorin-deleted-files: reads the records a file system keeps of its deleted files, with The
// Sleuth Kit, from a read-only descriptor of a device or image, and writes every deleted
// regular file whose content can still be read below one folder, under its original path and
// name, with its original modification time. It runs apart from the application so that the
// library meeting a corrupt record can only ever end this process.
//
// Everything read off the medium is hostile: a name is only ever one component below the
// destination (never "..", never a "/"), folders are made and entered one at a time without
// following links, and no permission bit is taken from the medium.

#include <tsk/libtsk.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum ExitStatus { kDone = 0, kRecordsFailed = 1, kUsage = 2, kNoFileSystem = 3 };

constexpr const char* kUsageText =
    "usage: vellorin-deleted-files [--fd N] DESTINATION\n"
    "Reads the file systems on descriptor N (default 3), a block device or an image opened\n"
    "read-only, and writes each deleted regular file that can still be read below DESTINATION\n"
    "(made when the first file is written), under its original path and name. Standard output\n"
    "gets one line each, fields separated by tabs, names free of control characters:\n"
    "  file SIZE PATH        a file written, PATH relative to DESTINATION\n"
    "  unreadable PATH       a file skipped because the medium could not be read there\n"
    "  done RESTORED IN_USE  the end: files written, files skipped because their space is used\n"
    "  error MESSAGE         the records could not be read to their end\n"
    "  full MESSAGE          DESTINATION cannot take more: nothing more is written\n"
    "  unwritable PATH MESSAGE  a file that could not be made; PATH empty: DESTINATION itself,\n"
    "                        and nothing more is written\n"
    "SIGTERM or SIGINT end it after the file it is writing, which is then removed; \"done\" follows.\n"
    "Exit status: 0 done, 1 the records failed or DESTINATION is full, 2 bad usage, 3 no file\n"
    "system found.\n";

// Set by SIGTERM and SIGINT: the walk ends before the next file, or part way through one.
volatile std::sig_atomic_t gStopAsked = 0;

// Where a deleted file whose folder is unknown goes.
constexpr std::string_view kOrphans = "Orphans";
constexpr std::string_view kLibraryOrphans = "$OrphanFiles";
// Written out in pieces of this size: a cluster at a time would be a system call per 4 KiB.
constexpr std::size_t kWriteBuffer = 1 << 20;
constexpr std::size_t kNameMax = 255;

void emit(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// One component of a path as the medium names it, made safe to create below a folder of ours.
std::string safeComponent(std::string_view name) {
    std::string safe;
    safe.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        safe.push_back(byte < 0x20 || byte == 0x7f || c == '/' || c == '\t' ? '_' : c);
    }
    if (safe.empty() || safe == "." || safe == "..")
        safe = "_" + safe;
    if (safe.size() > kNameMax) {
        std::size_t cut = kNameMax;
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xc0) == 0x80)
            --cut; // never halfway through a UTF-8 character
        safe.resize(cut);
    }
    return safe;
}

// "name (2).ext" for the second file of one name in one folder.
std::string numbered(const std::string& name, int number) {
    const std::size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    const std::string suffix = " (" + std::to_string(number) + ")";
    return stem.substr(0, kNameMax - std::min(kNameMax, suffix.size() + extension.size())) + suffix +
           extension;
}

// The name again without what FAT, exFAT and NTFS save locations refuse in a name, for when
// the save location refused the name as it was.
std::string portable(std::string name) {
    for (char& c : name)
        if (std::string_view("\"*:<>?\\|").find(c) != std::string_view::npos)
            c = '_';
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.back() = '_';
    return name;
}

bool refusedName(int error) {
    return error == EINVAL || error == EILSEQ || error == ENAMETOOLONG;
}

struct Source {
    TSK_IMG_INFO image; // first: the library hands this pointer back to the callbacks
    int fd;
    int lastErrno;
};

ssize_t readSource(TSK_IMG_INFO* image, TSK_OFF_T offset, char* buffer, std::size_t length) {
    auto* source = reinterpret_cast<Source*>(image);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got =
            ::pread(source->fd, buffer + done, length - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            source->lastErrno = errno;
            if (done > 0)
                break;
            return -1;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

void closeSource(TSK_IMG_INFO*) {} // the descriptor and the record are main()'s

void describeSource(TSK_IMG_INFO*, FILE*) {}

std::optional<std::int64_t> sizeOf(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return std::nullopt;
    if (S_ISREG(status.st_mode))
        return status.st_size;
    std::uint64_t bytes = 0;
    if (S_ISBLK(status.st_mode) && ::ioctl(fd, BLKGETSIZE64, &bytes) == 0)
        return static_cast<std::int64_t>(bytes);
    return std::nullopt;
}

std::string libraryError() {
    std::string text = tsk_error_get() ? tsk_error_get() : "unknown error";
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    return text;
}

// Folders below the destination, made and opened one component at a time with O_NOFOLLOW:
// a link planted in the save location leads nowhere.
class Destination {
  public:
    explicit Destination(std::string path) : path_(std::move(path)) {}
    ~Destination() { forget(); }
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    // The folder for these components, made as needed; its path relative to the destination
    // (with a number added where a file already holds a component's name) in shown.
    int folder(const std::vector<std::string>& components, std::string& shown) {
        if (folders_.size() > kOpenFolders)
            forget(); // a file system of many folders would run out of descriptors
        int parent = root();
        shown.clear();
        for (const std::string& component : components) {
            if (parent < 0)
                return -1;
            const std::string key = shown + "/" + component;
            if (auto found = folders_.find(key); found != folders_.end()) {
                parent = found->second.fd;
                shown = found->second.shown;
                continue;
            }
            int fd = -1;
            std::string base = component;
            std::string name = base;
            for (int number = 2; fd < 0 && number < 1000; ++number) {
                if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
                    if (!refusedName(errno) || portable(name) == name)
                        return -1;
                    base = name = portable(name);
                    continue;
                }
                fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (fd < 0)
                    name = numbered(base, number);
            }
            if (fd < 0)
                return -1;
            shown = shown.empty() ? name : shown + "/" + name;
            folders_.emplace(key, Folder{fd, shown});
            parent = fd;
        }
        return parent;
    }

    // The destination itself could not be made or entered (a link planted there, say).
    bool unusable() const { return root_ < 0; }

  private:
    struct Folder {
        int fd;
        std::string shown;
    };
    static constexpr std::size_t kOpenFolders = 256;

    void forget() {
        for (auto& [relative, folder] : folders_)
            ::close(folder.fd);
        folders_.clear();
        root_ = -1;
    }

    int root() {
        if (root_ >= 0)
            return root_;
        if (::mkdir(path_.c_str(), 0777) != 0 && errno != EEXIST)
            return -1;
        root_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (root_ >= 0)
            folders_.emplace("", Folder{root_, std::string()});
        return root_;
    }

    std::string path_;
    int root_ = -1;
    std::map<std::string, Folder> folders_;
};

struct Restorer {
    Source* source = nullptr;
    Destination* destination = nullptr;
    std::string prefix; // "Partition N" on a disk with more than one file system
    std::unordered_set<TSK_INUM_T> seen;
    std::uint64_t restored = 0;
    std::uint64_t inUse = 0;
    // Set when the destination cannot take more: the walk ends there, said in an error line.
    bool stopped = false;

    // One buffer for every file: a fresh megabyte for each of many small files costs more in
    // the kernel than writing them.
    std::string buffer;

    struct Writing {
        int fd;
        std::string& buffer;
        bool failed = false;
        int error = 0; // the system's, when writing failed
        bool spaceInUse = false;
        bool abandoned = false; // asked to stop part way through
    };

    static TSK_WALK_RET_ENUM checkBlock(TSK_FS_FILE*, TSK_OFF_T, TSK_DADDR_T, char*, std::size_t,
                                        TSK_FS_BLOCK_FLAG_ENUM flags, void* context) {
        // Resident and sparse content belongs to the record itself, never to another file.
        if ((flags & TSK_FS_BLOCK_FLAG_ALLOC) &&
            !(flags & (TSK_FS_BLOCK_FLAG_RES | TSK_FS_BLOCK_FLAG_SPARSE))) {
            static_cast<Writing*>(context)->spaceInUse = true;
            return TSK_WALK_STOP;
        }
        return TSK_WALK_CONT;
    }

    static bool flush(Writing& writing) {
        std::size_t done = 0;
        while (done < writing.buffer.size()) {
            const ssize_t put =
                ::write(writing.fd, writing.buffer.data() + done, writing.buffer.size() - done);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                writing.error = put < 0 ? errno : ENOSPC;
                return false;
            }
            done += static_cast<std::size_t>(put);
        }
        writing.buffer.clear();
        return true;
    }

    static TSK_WALK_RET_ENUM writeBlock(TSK_FS_FILE*, TSK_OFF_T, TSK_DADDR_T, char* data, std::size_t length,
                                        TSK_FS_BLOCK_FLAG_ENUM, void* context) {
        auto& writing = *static_cast<Writing*>(context);
        if (gStopAsked) {
            writing.abandoned = true;
            return TSK_WALK_STOP;
        }
        writing.buffer.append(data, length);
        if (writing.buffer.size() >= kWriteBuffer && !flush(writing)) {
            writing.failed = true;
            return TSK_WALK_STOP;
        }
        return TSK_WALK_CONT;
    }

    std::vector<std::string> folderOf(std::string_view parentPath) const {
        std::vector<std::string> components;
        if (!prefix.empty())
            components.push_back(prefix);
        bool first = true;
        while (!parentPath.empty()) {
            const std::size_t slash = parentPath.find('/');
            const std::string_view part = parentPath.substr(0, slash);
            parentPath = slash == std::string_view::npos ? std::string_view() : parentPath.substr(slash + 1);
            if (part.empty())
                continue;
            components.push_back(first && part == kLibraryOrphans ? std::string(kOrphans)
                                                                  : safeComponent(part));
            first = false;
        }
        return components;
    }

    void restore(TSK_FS_FILE* file, const char* parentPath) {
        const TSK_FS_META* meta = file->meta;
        // Only names the file system has let go of; a record whose entry another file took
        // since (its metadata allocated again) describes that other file.
        if (!file->name || !meta || !(file->name->flags & TSK_FS_NAME_FLAG_UNALLOC) ||
            meta->type != TSK_FS_META_TYPE_REG)
            return;
        if (meta->size <= 0)
            return; // the library lists many such husks; there is nothing in them to restore
        if (!seen.insert(meta->addr).second)
            return; // one record reached under a second, older name
        if (meta->flags & TSK_FS_META_FLAG_ALLOC) {
            ++inUse;
            return;
        }
        buffer.clear();
        Writing writing{-1, buffer};
        if (tsk_fs_file_walk(file, TSK_FS_FILE_WALK_FLAG_AONLY, checkBlock, &writing) != 0) {
            tsk_error_reset(); // no map of its space: nothing can be restored of it
            ++inUse;
            return;
        }
        if (writing.spaceInUse) {
            ++inUse;
            return;
        }

        std::string folderShown;
        const std::vector<std::string> components = folderOf(parentPath ? parentPath : "");
        std::string wanted = safeComponent(file->name->name ? file->name->name : "");
        const int folder = destination->folder(components, folderShown);
        if (folder < 0) {
            if (destination->unusable()) {
                stopped = true;
                emit("unwritable\t\t" + std::string(std::strerror(errno)));
            } else {
                std::string path;
                for (const std::string& component : components)
                    path += component + "/";
                emit("unwritable\t" + path + wanted + "\t" + std::strerror(errno));
            }
            return;
        }
        std::string name = wanted;
        writing.fd = -1;
        for (int number = 2; writing.fd < 0 && number < 1000; ++number) {
            writing.fd =
                ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (writing.fd < 0 && refusedName(errno) && portable(name) != name) {
                wanted = name = portable(name);
                --number;
                continue;
            }
            if (writing.fd < 0 && errno != EEXIST) {
                const std::string shown = folderShown.empty() ? name : folderShown + "/" + name;
                emit("unwritable\t" + shown + "\t" + std::strerror(errno));
                return;
            }
            if (writing.fd < 0)
                name = numbered(wanted, number);
        }
        if (writing.fd < 0)
            return;
        const std::string shown = folderShown.empty() ? name : folderShown + "/" + name;

        source->lastErrno = 0;
        const bool walked = tsk_fs_file_walk(file, TSK_FS_FILE_WALK_FLAG_NONE, writeBlock, &writing) == 0;
        writing.failed = writing.failed || (walked && !flush(writing));
        const bool written = walked && !writing.failed && !writing.abandoned;
        if (written) {
            const timespec times[2] = {{meta->atime, static_cast<long>(meta->atime_nano)},
                                       {meta->mtime, static_cast<long>(meta->mtime_nano)}};
            ::futimens(writing.fd, times);
        }
        ::close(writing.fd);
        if (!written) {
            // Never a part of a file under its name.
            ::unlinkat(folder, name.c_str(), 0);
            if (writing.abandoned) {
                stopped = true;
                return;
            }
            if (writing.failed) {
                stopped = true;
                emit("full\t" + std::string(std::strerror(writing.error)));
                return;
            }
            const bool unreadable = !walked && source->lastErrno != 0;
            tsk_error_reset();
            if (unreadable)
                emit("unreadable\t" + shown);
            else if (!walked)
                ++inUse; // the library found no content it could map
            return;
        }
        ++restored;
        emit("file\t" + std::to_string(meta->size) + "\t" + shown);
    }

    static TSK_WALK_RET_ENUM visit(TSK_FS_FILE* file, const char* path, void* context) {
        auto* restorer = static_cast<Restorer*>(context);
        if (gStopAsked)
            restorer->stopped = true;
        else
            restorer->restore(file, path);
        return restorer->stopped ? TSK_WALK_STOP : TSK_WALK_CONT;
    }
};

// The library's handles, closed in the reverse order of opening by their owners' lifetimes.
struct CloseImage {
    void operator()(TSK_IMG_INFO* image) const { tsk_img_close(image); }
};
struct CloseVolumes {
    void operator()(TSK_VS_INFO* volumes) const { tsk_vs_close(volumes); }
};
struct CloseFileSystem {
    void operator()(TSK_FS_INFO* fs) const { tsk_fs_close(fs); }
};
using Image = std::unique_ptr<TSK_IMG_INFO, CloseImage>;
using Volumes = std::unique_ptr<TSK_VS_INFO, CloseVolumes>;

struct FileSystem {
    std::unique_ptr<TSK_FS_INFO, CloseFileSystem> info;
    std::string prefix;
};

// The file system at the start of the source, else those in its partitions.
std::vector<FileSystem> openFileSystems(TSK_IMG_INFO* image, Volumes& volumes) {
    std::vector<FileSystem> found;
    if (TSK_FS_INFO* whole = tsk_fs_open_img(image, 0, TSK_FS_TYPE_DETECT)) {
        found.push_back({decltype(FileSystem::info)(whole), {}});
        return found;
    }
    tsk_error_reset();
    volumes.reset(tsk_vs_open(image, 0, TSK_VS_TYPE_DETECT));
    if (!volumes) {
        tsk_error_reset();
        return found;
    }
    int number = 0;
    for (TSK_PNUM_T index = 0; index < volumes->part_count; ++index) {
        const TSK_VS_PART_INFO* part = tsk_vs_part_get(volumes.get(), index);
        if (!part || !(part->flags & TSK_VS_PART_FLAG_ALLOC))
            continue;
        ++number;
        if (TSK_FS_INFO* fs = tsk_fs_open_vol(part, TSK_FS_TYPE_DETECT))
            found.push_back({decltype(FileSystem::info)(fs), "Partition " + std::to_string(number)});
        else
            tsk_error_reset();
    }
    if (found.size() == 1)
        found.front().prefix.clear();
    return found;
}

} // namespace

int main(int argc, char** argv) {
    int fd = 3;
    int argument = 1;
    if (argc == 4 && std::string_view(argv[1]) == "--fd") {
        const std::string_view text = argv[2];
        const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), fd);
        if (problem != std::errc() || end != text.data() + text.size() || fd < 0) {
            std::fputs(kUsageText, stderr);
            return kUsage;
        }
        argument = 3;
    } else if (argc != 2) {
        std::fputs(kUsageText, stderr);
        return kUsage;
    }
    const std::string destination = argv[argument];
    if (destination.empty() || destination.front() != '/') {
        std::fputs("vellorin-deleted-files: DESTINATION must be an absolute path\n", stderr);
        return kUsage;
    }
    // Read-only, or not at all: this step must never be able to write the source.
    const int mode = ::fcntl(fd, F_GETFL);
    if (mode < 0 || (mode & O_ACCMODE) != O_RDONLY) {
        std::fputs("vellorin-deleted-files: the descriptor must be open for reading only\n", stderr);
        return kUsage;
    }
    const std::optional<std::int64_t> size = sizeOf(fd);
    if (!size || *size <= 0) {
        std::fputs("vellorin-deleted-files: the descriptor is no device or image\n", stderr);
        return kUsage;
    }

    Source source{};
    source.image.tag = TSK_IMG_INFO_TAG;
    source.fd = fd;
    const Image image(tsk_img_open_external(&source, *size, 512, readSource, closeSource, describeSource));
    if (!image) {
        emit("error\t" + libraryError());
        return kRecordsFailed;
    }
    Volumes volumes;
    std::vector<FileSystem> fileSystems = openFileSystems(image.get(), volumes);
    if (fileSystems.empty())
        return kNoFileSystem;

    struct sigaction stop {};
    stop.sa_handler = [](int) { gStopAsked = 1; };
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);

    Destination folder(destination);
    Restorer restorer;
    restorer.source = &source;
    restorer.destination = &folder;
    restorer.buffer.reserve(kWriteBuffer + 65536);
    int status = kDone;
    for (FileSystem& fs : fileSystems) {
        restorer.prefix = fs.prefix;
        restorer.seen.clear();
        const auto flags = static_cast<TSK_FS_DIR_WALK_FLAG_ENUM>(
            TSK_FS_DIR_WALK_FLAG_ALLOC | TSK_FS_DIR_WALK_FLAG_UNALLOC | TSK_FS_DIR_WALK_FLAG_RECURSE);
        if (!restorer.stopped &&
            tsk_fs_dir_walk(fs.info.get(), fs.info->root_inum, flags, Restorer::visit, &restorer) != 0 &&
            status == kDone) {
            emit("error\t" + libraryError());
            status = kRecordsFailed;
        }
        if (restorer.stopped)
            status = kRecordsFailed;
        fs.info.reset(); // its caches go before the next one fills its own
    }
    emit("done\t" + std::to_string(restorer.restored) + "\t" + std::to_string(restorer.inUse));
    return status;
}
