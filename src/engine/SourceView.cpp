// vellorin-source-view: serves a read-only descriptor of a device or image as one regular file
// on a FUSE mount, so that the engine never needs to run as root to scan it.

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum ExitStatus { kUnmounted = 0, kCannotServe = 1, kRefused = 2 };

constexpr const char* kUsage =
    "usage: vellorin-source-view [--fd N] MOUNTPOINT\n"
    "Serves descriptor N (default 3), a block device or regular file opened read-only, as the\n"
    "read-only file MOUNTPOINT/source until unmounted or sent SIGTERM, SIGINT or SIGHUP.\n"
    "Exit status: 0 unmounted, 1 could not mount or serve, 2 bad usage or descriptor refused.\n";

constexpr std::string_view kEntryPath = "/source";

// The engine reads in blocks of about 450 KiB, so each of its reads is one request. Larger
// would not help: a request and its header must fit in one pipe an unprivileged process may
// have (1 MiB), or the library stops splicing and copies through a fresh buffer each time.
constexpr unsigned kMaxRead = 512 * 1024;

template <typename Action> struct AtExit {
    Action action;
    ~AtExit() { action(); }
};

// Why the descriptor must not be served, or nothing when it may.
std::optional<std::string> refusal(int fd, struct stat& status) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1)
        return "descriptor " + std::to_string(fd) + " is not open";
    // O_PATH reports itself as read-only but cannot be read from.
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & O_PATH))
        return "descriptor " + std::to_string(fd) + " is not opened read-only";
    if (::fstat(fd, &status) != 0)
        return "descriptor " + std::to_string(fd) + ": " + std::strerror(errno);
    if (!S_ISBLK(status.st_mode) && !S_ISREG(status.st_mode))
        return "descriptor " + std::to_string(fd) + " is neither a block device nor a regular file";
    return std::nullopt;
}

class SourceView {
  public:
    SourceView(int fd, const struct stat& source, std::uint64_t size) : fd_(fd), size_(size) {
        file_.st_mode = S_IFREG | 0400;
        file_.st_nlink = 1;
        file_.st_uid = ::getuid();
        file_.st_gid = ::getgid();
        file_.st_size = static_cast<off_t>(size);
        file_.st_blocks = static_cast<blkcnt_t>((size + 511) / 512);
        file_.st_atim = source.st_atim;
        file_.st_mtim = source.st_mtim;
        file_.st_ctim = source.st_ctim;
        root_ = file_;
        root_.st_mode = S_IFDIR | 0500;
        root_.st_nlink = 2;
        root_.st_size = 0;
        root_.st_blocks = 0;
    }

    // Mounts on mountPoint and serves until unmounted or signalled; the error, if any.
    std::optional<std::string> serve(const char* mountPoint) {
        // No allow_other or allow_root: only the engine's user, which is ours, may look in.
        const std::string options =
            "ro,default_permissions,fsname=vellorin-source-view,subtype=vellorin-source-view,max_read=" +
            std::to_string(kMaxRead);
        const char* argv[] = {"vellorin-source-view", "-o", options.c_str(), nullptr};
        fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
        const fuse_operations operations = makeOperations();
        const std::unique_ptr<fuse, decltype(&fuse_destroy)> session(
            fuse_new(&args, &operations, sizeof operations, this), &fuse_destroy);
        fuse_opt_free_args(&args);
        if (!session)
            return "cannot start the file system";
        fuse_session* const channel = fuse_get_session(session.get());
        // The handlers go in before the mount, so a signal at any moment ends in an unmount.
        if (fuse_set_signal_handlers(channel) != 0)
            return "cannot install the signal handlers";
        const AtExit restoreSignals{[channel] { fuse_remove_signal_handlers(channel); }};
        if (fuse_mount(session.get(), mountPoint) != 0)
            return std::string("cannot mount on ") + mountPoint;
        const AtExit unmount{[&session] { fuse_unmount(session.get()); }};
        // A signal number above zero is the stop we were asked for.
        if (fuse_loop(session.get()) < 0)
            return "serving ended in an error";
        return std::nullopt;
    }

    // What the engine has asked for so far; progress and resume will read these, from any thread.
    std::uint64_t bytesServed() const { return bytesServed_.load(std::memory_order_relaxed); }
    std::uint64_t highestEnd() const { return highestEnd_.load(std::memory_order_relaxed); }

  private:
    static SourceView& self() { return *static_cast<SourceView*>(fuse_get_context()->private_data); }

    static fuse_operations makeOperations() {
        fuse_operations operations{};
        operations.init = &SourceView::init;
        operations.getattr = &SourceView::getattr;
        operations.readdir = &SourceView::readdir;
        operations.open = &SourceView::open;
        operations.read_buf = &SourceView::readBuf;
        return operations;
    }

    static void* init(fuse_conn_info* connection, fuse_config* config) {
        // Nothing changes under us: the kernel may keep names and attributes for good.
        config->entry_timeout = 86400;
        config->attr_timeout = 86400;
        config->negative_timeout = 86400;
        // The library refuses to serve when this differs from the mount option.
        connection->max_read = kMaxRead;
        // Lets the library move the source's pages to the kernel without copying them through us.
        if (connection->capable & FUSE_CAP_SPLICE_WRITE)
            connection->want |= FUSE_CAP_SPLICE_WRITE;
        return fuse_get_context()->private_data;
    }

    static int getattr(const char* path, struct stat* status, fuse_file_info*) {
        if (path == std::string_view("/"))
            *status = self().root_;
        else if (path == kEntryPath)
            *status = self().file_;
        else
            return -ENOENT;
        return 0;
    }

    static int readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                       fuse_readdir_flags) {
        if (path != std::string_view("/"))
            return -ENOTDIR;
        const auto none = static_cast<fuse_fill_dir_flags>(0);
        fill(buffer, ".", nullptr, 0, none);
        fill(buffer, "..", nullptr, 0, none);
        fill(buffer, kEntryPath.substr(1).data(), &self().file_, 0, none);
        return 0;
    }

    static int open(const char* path, fuse_file_info* file) {
        if (path != kEntryPath)
            return -ENOENT;
        if ((file->flags & O_ACCMODE) != O_RDONLY)
            return -EROFS;
        // Each read of the engine comes to us as it made it: one request, one copy, and the
        // offsets it really reads. Through the page cache, reads arrive as 128 KiB readahead
        // requests, are copied twice, and the device is cached a second time.
        file->direct_io = 1;
        return 0;
    }

    static int readBuf(const char*, fuse_bufvec** result, std::size_t size, off_t offset, fuse_file_info*) {
        SourceView& view = self();
        // The library frees the vector with free().
        auto* buffers = static_cast<fuse_bufvec*>(std::malloc(sizeof(fuse_bufvec)));
        if (!buffers)
            return -ENOMEM;
        const auto start = static_cast<std::uint64_t>(offset);
        const std::uint64_t length =
            start >= view.size_ ? 0 : std::min<std::uint64_t>(size, view.size_ - start);
        *buffers = fuse_bufvec{1, 0, 0, {fuse_buf{length, fuse_buf_flags{}, nullptr, -1, 0}}};
        // An empty memory buffer at the end: there is nothing to splice.
        if (length > 0) {
            buffers->buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
            buffers->buf[0].fd = view.fd_;
            buffers->buf[0].pos = offset;
            view.served(start, length);
        }
        *result = buffers;
        return 0;
    }

    void served(std::uint64_t start, std::uint64_t length) {
        bytesServed_.fetch_add(length, std::memory_order_relaxed);
        const std::uint64_t end = start + length;
        std::uint64_t highest = highestEnd_.load(std::memory_order_relaxed);
        while (end > highest && !highestEnd_.compare_exchange_weak(highest, end, std::memory_order_relaxed)) {
        }
    }

    const int fd_;
    const std::uint64_t size_;
    struct stat root_ {};
    struct stat file_ {};
    std::atomic<std::uint64_t> bytesServed_{0};
    std::atomic<std::uint64_t> highestEnd_{0};
};

} // namespace

int main(int argc, char** argv) {
    // Never outlive the script that started us: the mount would stay behind, holding the device.
    const pid_t parent = ::getppid();
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) {
        std::fputs("vellorin-source-view: the program that started it has already ended\n", stderr);
        return kCannotServe;
    }

    int fd = 3;
    const char* mountPoint = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--fd" && i + 1 < argc) {
            const std::string_view number = argv[++i];
            const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), fd);
            if (error != std::errc() || end != number.data() + number.size() || fd < 0) {
                std::fprintf(stderr, "vellorin-source-view: not a descriptor number: %s\n", argv[i]);
                return kRefused;
            }
        } else if (!mountPoint && !argument.starts_with('-')) {
            mountPoint = argv[i];
        } else {
            std::fputs(kUsage, stderr);
            return kRefused;
        }
    }
    if (!mountPoint) {
        std::fputs(kUsage, stderr);
        return kRefused;
    }

    struct stat source {};
    if (const std::optional<std::string> why = refusal(fd, source)) {
        std::fprintf(stderr, "vellorin-source-view: %s\n", why->c_str());
        return kRefused;
    }
    // At once: the mount forks fusermount3, and nothing but us may hold the device.
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size < 0) {
        std::fprintf(stderr, "vellorin-source-view: cannot find the size of descriptor %d: %s\n", fd,
                     std::strerror(errno));
        return kRefused;
    }

    SourceView view(fd, source, static_cast<std::uint64_t>(size));
    if (const std::optional<std::string> error = view.serve(mountPoint)) {
        std::fprintf(stderr, "vellorin-source-view: %s\n", error->c_str());
        return kCannotServe;
    }
    return kUnmounted;
}
