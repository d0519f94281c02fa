// A stand-in for a damaged, failing or pulled-out disk: serves one image file read-only as
// MOUNTPOINT/disk.img, where every read that starts in a bad range fails (with EIO, or the error
// number given) and a read that runs into one stops short before it, as a block device answers.
//
//   vellorin-standin-failing-disk IMAGE MOUNTPOINT [--bad FROM[-TO]]... [--pulled-at OFFSET] [--errno N]
//                                 [--rate BYTES_PER_SECOND] [--stall FROM-TO:SECONDS]
//
// A range without TO runs to the end: a disk that fails from FROM on. --pulled-at: from the
// first read that reaches OFFSET on, every read fails, wherever it is. --rate: a slow disk,
// whose every read takes as long as its bytes take at that rate. --stall: the first read that
// starts in the range hangs for that long, as a drive retrying a weak spot does. Serves until
// unmounted or sent SIGTERM.

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Range {
    std::uint64_t from = 0;
    std::uint64_t to = std::numeric_limits<std::uint64_t>::max();
};

struct Disk {
    int fd = -1;
    struct stat image {};
    std::vector<Range> bad;
    std::uint64_t pulledAt = std::numeric_limits<std::uint64_t>::max();
    bool pulled = false;
    int error = EIO;
    double rate = 0; // bytes per second; 0: as fast as the image
    Range stall{0, 0};
    double stallSeconds = 0;
};

Disk& disk() {
    return *static_cast<Disk*>(fuse_get_context()->private_data);
}

int attributes(const char* path, struct stat* status, fuse_file_info*) {
    *status = disk().image;
    if (path == std::string_view("/")) {
        status->st_mode = S_IFDIR | 0555;
        status->st_nlink = 2;
        status->st_size = 0;
        return 0;
    }
    if (path != std::string_view("/disk.img"))
        return -ENOENT;
    status->st_mode = S_IFREG | 0444;
    status->st_nlink = 1;
    return 0;
}

int list(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    if (path != std::string_view("/"))
        return -ENOTDIR;
    const auto none = static_cast<fuse_fill_dir_flags>(0);
    fill(buffer, ".", nullptr, 0, none);
    fill(buffer, "..", nullptr, 0, none);
    fill(buffer, "disk.img", nullptr, 0, none);
    return 0;
}

int openImage(const char* path, fuse_file_info* file) {
    if (path != std::string_view("/disk.img"))
        return -ENOENT;
    if ((file->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    // Every read of the view reaches us at its own offset, never through the page cache.
    file->direct_io = 1;
    return 0;
}

int readImage(const char*, char* buffer, std::size_t size, off_t offset, fuse_file_info*) {
    Disk& served = disk();
    const auto start = static_cast<std::uint64_t>(offset);
    std::uint64_t end = start + size;
    served.pulled = served.pulled || (start <= served.pulledAt && served.pulledAt < end);
    const bool bad =
        served.pulled || std::any_of(served.bad.begin(), served.bad.end(), [start](const Range& range) {
            return start >= range.from && start < range.to;
        });
    if (bad)
        return -served.error;
    if (served.stallSeconds > 0 && start >= served.stall.from && start < served.stall.to) {
        std::this_thread::sleep_for(std::chrono::duration<double>(served.stallSeconds));
        served.stallSeconds = 0;
    }
    if (served.rate > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(static_cast<double>(size) / served.rate));
    for (const Range& range : served.bad)
        if (range.from > start)
            end = std::min(end, range.from);
    const ssize_t got = ::pread(served.fd, buffer, end - start, offset);
    return got < 0 ? -errno : static_cast<int>(got);
}

bool parseRange(std::string_view text, Range& range) {
    const std::size_t dash = text.find('-');
    try {
        range.from = std::stoull(std::string(text.substr(0, dash)));
        if (dash != std::string_view::npos)
            range.to = std::stoull(std::string(text.substr(dash + 1)));
    } catch (const std::exception&) {
        return false;
    }
    return range.from < range.to;
}

} // namespace

int main(int argc, char** argv) {
    Disk served;
    std::vector<const char*> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--bad" && i + 1 < argc) {
            Range range;
            if (!parseRange(argv[++i], range)) {
                std::fprintf(stderr, "not a range: %s\n", argv[i]);
                return 2;
            }
            served.bad.push_back(range);
        } else if (argument == "--pulled-at" && i + 1 < argc) {
            served.pulledAt = std::stoull(argv[++i]);
        } else if (argument == "--errno" && i + 1 < argc) {
            served.error = std::atoi(argv[++i]);
        } else if (argument == "--rate" && i + 1 < argc) {
            served.rate = std::atof(argv[++i]);
        } else if (argument == "--stall" && i + 1 < argc) {
            const std::string_view text = argv[++i];
            const std::size_t colon = text.find(':');
            if (colon == std::string_view::npos || !parseRange(text.substr(0, colon), served.stall)) {
                std::fprintf(stderr, "not a stall: %s\n", argv[i]);
                return 2;
            }
            served.stallSeconds = std::atof(std::string(text.substr(colon + 1)).c_str());
        } else {
            positional.push_back(argv[i]);
        }
    }
    if (positional.size() != 2) {
        std::fputs(
            "usage: vellorin-standin-failing-disk IMAGE MOUNTPOINT [--bad FROM[-TO]]... [--pulled-at OFFSET] "
            "[--errno N] [--rate BYTES_PER_SECOND] [--stall FROM-TO:SECONDS]\n",
            stderr);
        return 2;
    }
    served.fd = ::open(positional[0], O_RDONLY | O_CLOEXEC);
    if (served.fd < 0 || ::fstat(served.fd, &served.image) != 0) {
        std::fprintf(stderr, "%s: %s\n", positional[0], std::strerror(errno));
        return 1;
    }

    fuse_operations operations{};
    operations.getattr = &attributes;
    operations.readdir = &list;
    operations.open = &openImage;
    operations.read = &readImage;
    // Foreground and one thread: the test stops it by its process id.
    const char* fuseArguments[] = {"vellorin-standin-failing-disk", "-f", "-s", "-o", "ro", positional[1]};
    return fuse_main(6, const_cast<char**>(fuseArguments), &operations, &served);
}
