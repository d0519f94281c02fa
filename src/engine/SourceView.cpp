// vellorin-source-view: serves a read-only descriptor of a device or image as one regular file
// on a FUSE mount, so that the engine never needs to run as root to scan it. It also sees
// every failing read first: a source that went away or stopped answering ends the view, with
// one line saying why, instead of feeding the engine errors to the end of the disk.

#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum ExitStatus { kUnmounted = 0, kCannotServe = 1, kRefused = 2, kSourceFailed = 3 };

constexpr const char* kUsage =
    "usage: vellorin-source-view [--fd N] [--window START] [--progress FILE [--session FILE]] MOUNTPOINT\n"
    "Serves descriptor N (default 3), a block device or regular file opened read-only, as the\n"
    "read-only file MOUNTPOINT/source until unmounted or sent SIGTERM, SIGINT or SIGHUP, or\n"
    "until the source fails: it went away, or its reads keep failing. Then one line on standard\n"
    "output says so, with the offset and the system's error; diagnostics go to standard error.\n"
    "--window START serves the source from byte START on, so that a search picks up there.\n"
    "--progress FILE: twice a second, and at the end, FILE is replaced by lines of key=value:\n"
    "size (of the whole source), window, served (bytes read so far), pass (preparing, or main\n"
    "once the engine's session FILE given with --session exists: PhotoRec writes it as its main\n"
    "pass begins), position (where the main pass has read up to, in bytes of the whole source)\n"
    "and blocksize (the engine's, from its session, once known).\n"
    "Exit status: 0 unmounted, 1 could not mount or serve, 2 bad usage or descriptor refused,\n"
    "3 the source failed.\n";

// How often the progress file is rewritten.
constexpr std::chrono::milliseconds kProgressInterval{500};

constexpr std::string_view kEntryPath = "/source";

// The engine reads in blocks of about 450 KiB, so each of its reads is one request. Larger
// would not help: a request must fit in one pipe an unprivileged process may have (1 MiB), or
// it cannot be spliced and is copied through a fresh buffer each time.
constexpr unsigned kMaxRead = 512 * 1024;
constexpr int kPipeBytes = 1024 * 1024;

// When a source has failed rather than being damaged in places. PhotoRec reads on past a read
// that fails: an unreadable MiB costs it four failed reads in a row, and then reads succeed
// again. A disk that fails from some offset on fails every read from there to its end, which
// the engine makes without pausing. So this many failed reads with no success between, some
// 15 MiB unreadable in one piece, end the view, in well under a second when reads fail at once...
constexpr unsigned kFailedReadsInARow = 32;
// ...and when each failing read takes the drive's own retries, a handful of them failing for
// this long with no success between is a disk that stopped answering, not a bad spot.
constexpr unsigned kSlowFailedReadsInARow = 8;
constexpr std::chrono::seconds kFailingFor{20};

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
    struct Progress {
        std::string file;    // empty: none is written
        std::string session; // the engine's session file, which marks its main pass
    };

    // Serves the bytes of fd from window on.
    SourceView(int fd, const struct stat& source, std::uint64_t total, std::uint64_t window,
               Progress progress)
        : fd_(fd), total_(total), window_(window), size_(total - window), progress_(std::move(progress)) {
        openPipe();
        file_.st_mode = S_IFREG | 0400;
        file_.st_nlink = 1;
        file_.st_uid = ::getuid();
        file_.st_gid = ::getgid();
        file_.st_size = static_cast<off_t>(size_);
        file_.st_blocks = static_cast<blkcnt_t>((size_ + 511) / 512);
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
        startReporting();
        const AtExit stopReporting{[this] { this->stopReporting(); }};
        // A signal number above zero is the stop we were asked for.
        if (fuse_loop(session.get()) < 0)
            return "serving ended in an error";
        return std::nullopt;
    }

    ~SourceView() {
        stopReporting();
        closePipe();
    }
    SourceView(const SourceView&) = delete;
    SourceView& operator=(const SourceView&) = delete;

    bool sourceFailed() const { return failure_.has_value(); }

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
        // Lets the library move the source's pages from our pipe to the kernel without a copy.
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

    // The source's pages go into our own pipe, and the library takes them from there: so the
    // view sees a read fail, which it would not if the library read the descriptor itself,
    // and no byte is copied on the way.
    static int readBuf(const char*, fuse_bufvec** result, std::size_t size, off_t offset, fuse_file_info*) {
        SourceView& view = self();
        if (view.failure_)
            return -EIO; // already ending
        // The library frees the vector, and a memory buffer in it, with free().
        auto* buffers = static_cast<fuse_bufvec*>(std::malloc(sizeof(fuse_bufvec)));
        if (!buffers)
            return -ENOMEM;
        *buffers = FUSE_BUFVEC_INIT(0);
        *result = buffers;
        const auto start = static_cast<std::uint64_t>(offset);
        if (start >= view.size_)
            return 0; // an empty memory buffer at the end
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(size, view.size_ - start));
        fuse_buf& buffer = buffers->buf[0];
        Transfer read;
        if (view.pipe_[0] >= 0)
            read = view.spliceFromSource(offset, length);
        if (read.bytes > 0) {
            buffer.flags = FUSE_BUF_IS_FD;
            buffer.fd = view.pipe_[0];
        } else if (view.pipe_[0] < 0) {
            if (!(buffer.mem = std::malloc(length)))
                return -ENOMEM;
            read = view.readFromSource(static_cast<char*>(buffer.mem), offset, length);
        }
        if (read.bytes == 0) {
            view.readFailed(start, read.error);
            return read.error != 0 ? -read.error : -EIO;
        }
        buffer.size = read.bytes;
        view.failedInARow_ = 0;
        view.served(start, read.bytes);
        return 0;
    }

    // What one read got: its bytes, or none and the error (0 when the source ended early).
    struct Transfer {
        std::size_t bytes = 0;
        int error = 0;
    };

    // Nothing, with the pipe closed, when the source cannot be spliced: the caller reads it then.
    Transfer spliceFromSource(off_t offset, std::size_t length) {
        // Whatever an earlier reply left behind must never be served as this one's bytes.
        int queued = 0;
        if (::ioctl(pipe_[0], FIONREAD, &queued) != 0 || queued != 0) {
            closePipe();
            openPipe();
            if (pipe_[0] < 0)
                return {};
        }
        Transfer moved;
        while (moved.bytes < length) {
            loff_t from = static_cast<off_t>(window_) + offset + static_cast<off_t>(moved.bytes);
            const ssize_t got = ::splice(fd_, &from, pipe_[1], nullptr, length - moved.bytes,
                                         SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
            if (got > 0) {
                moved.bytes += static_cast<std::size_t>(got);
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            moved.error = got < 0 ? errno : 0;
            break;
        }
        if (moved.bytes > 0) {
            moved.error = 0;
        } else if (moved.error == EINVAL || moved.error == EAGAIN || moved.error == 0) {
            // EINVAL: a source that cannot be spliced. EAGAIN: the pipe is empty and holds twice
            // the largest read, so it is not full. 0, an end inside the size: FUSE takes a short
            // read of a file it serves for its end, and splice stops there from then on, where
            // a plain read still reaches the source and gives the verdict.
            closePipe();
        }
        return moved;
    }

    Transfer readFromSource(char* buffer, off_t offset, std::size_t length) const {
        ssize_t got = 0;
        do
            got = ::pread(fd_, buffer, length, static_cast<off_t>(window_) + offset);
        while (got < 0 && errno == EINTR);
        return got > 0 ? Transfer{static_cast<std::size_t>(got), 0} : Transfer{0, got < 0 ? errno : 0};
    }

    // Leaves none when the system will not give a pipe large enough.
    void openPipe() {
        if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            pipe_[0] = pipe_[1] = -1;
        else if (::fcntl(pipe_[1], F_SETPIPE_SZ, kPipeBytes) < kPipeBytes)
            closePipe();
    }

    void closePipe() {
        for (int& end : pipe_)
            if (end >= 0)
                ::close(std::exchange(end, -1));
    }

    // error is 0 when the source ended before its size: a device that was removed has none left.
    void readFailed(std::uint64_t offset, int error) {
        const auto now = std::chrono::steady_clock::now();
        if (failedInARow_++ == 0)
            firstFailure_ = now;
        const std::string at = std::to_string(window_ + offset);
        if (error == 0)
            failure_ = "The disk went away during the search: at byte " + at + " it ended, short of its " +
                       std::to_string(total_) + " bytes.";
        else if (error == ENODEV || error == ENXIO || error == ENOMEDIUM)
            failure_ = "The disk went away during the search: reading it at byte " + at + " failed (" +
                       std::strerror(error) + ").";
        else if (failedInARow_ >= kFailedReadsInARow ||
                 (failedInARow_ >= kSlowFailedReadsInARow && now - firstFailure_ >= kFailingFor))
            failure_ = "The disk could not be read any more: " + std::to_string(failedInARow_) +
                       " reads in a row failed, the last at byte " + at + " (" + std::strerror(error) + ").";
        if (!failure_)
            return;
        std::printf("%s\n", failure_->c_str());
        std::fflush(stdout);
        // Ends the loop once this request is answered; the mount goes with it.
        fuse_exit(fuse_get_context()->fuse);
    }

    void served(std::uint64_t start, std::uint64_t length) {
        bytesServed_.fetch_add(length, std::memory_order_relaxed);
        // Before its main pass the engine reads here and there (the file system's tables, the
        // end of the disk) and makes a first pass that finds the block size: none of that is
        // how far the search has come. It writes its session file just before the main pass.
        if (!mainPass_) {
            if (progress_.session.empty() || ::access(progress_.session.c_str(), F_OK) != 0)
                return;
            mainPass_ = true;
            mainPassSeen_.store(true, std::memory_order_relaxed);
        }
        const std::uint64_t end = start + length;
        if (end > position_.load(std::memory_order_relaxed))
            position_.store(end, std::memory_order_relaxed);
    }

    // The engine's block size, from the session file it writes as its main pass begins: its
    // command line there holds "blocksize,N". 0 while unknown.
    std::uint64_t sessionBlockSize() const {
        const int session = ::open(progress_.session.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (session < 0)
            return 0;
        char text[4096];
        const ssize_t got = ::read(session, text, sizeof text);
        ::close(session);
        if (got <= 0)
            return 0;
        const std::string_view head(text, static_cast<std::size_t>(got));
        const std::size_t at = head.find(",blocksize,");
        if (at == std::string_view::npos)
            return 0;
        const std::string_view digits = head.substr(at + 11);
        std::uint64_t size = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
        return error == std::errc() && end != digits.data() && size > 0 && size <= (1u << 20) ? size : 0;
    }

    void startReporting() {
        if (progress_.file.empty())
            return;
        // Signals stay with the loop's thread, whose handlers end the mount.
        sigset_t all;
        sigset_t before;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &before);
        reporter_ = std::thread([this] {
            std::unique_lock lock(reportMutex_);
            do
                writeProgress();
            while (!reportStop_.wait_for(lock, kProgressInterval, [this] { return reportStopped_; }));
            writeProgress();
        });
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }

    void stopReporting() {
        if (!reporter_.joinable())
            return;
        {
            const std::lock_guard lock(reportMutex_);
            reportStopped_ = true;
        }
        reportStop_.notify_all();
        reporter_.join();
    }

    // Replaced whole, so a reader never sees half of it; a link planted in its place is
    // replaced, never followed.
    void writeProgress() {
        const bool main = mainPassSeen_.load(std::memory_order_relaxed);
        if (main && blockSize_ == 0)
            blockSize_ = sessionBlockSize();
        std::string text = "size=" + std::to_string(total_) + "\nwindow=" + std::to_string(window_) +
                           "\nserved=" + std::to_string(bytesServed_.load(std::memory_order_relaxed)) +
                           "\npass=" + (main ? "main" : "preparing") + "\n";
        if (main)
            text += "position=" + std::to_string(window_ + position_.load(std::memory_order_relaxed)) + "\n";
        if (blockSize_ != 0)
            text += "blocksize=" + std::to_string(blockSize_) + "\n";
        const std::string temporary = progress_.file + ".new";
        const int out =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (out < 0)
            return;
        const bool written = ::write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::close(out);
        if (!written || ::rename(temporary.c_str(), progress_.file.c_str()) != 0)
            ::unlink(temporary.c_str());
    }

    const int fd_;
    const std::uint64_t total_;
    const std::uint64_t window_;
    const std::uint64_t size_;
    const Progress progress_;
    struct stat root_ {};
    struct stat file_ {};
    std::atomic<std::uint64_t> bytesServed_{0};
    // Set on the loop's thread, read by the reporter's.
    std::atomic<bool> mainPassSeen_{false};
    std::atomic<std::uint64_t> position_{0}; // in the served file's bytes
    bool mainPass_ = false;                  // the loop's own copy
    std::thread reporter_;
    std::mutex reportMutex_;
    std::condition_variable reportStop_;
    bool reportStopped_ = false;
    std::uint64_t blockSize_ = 0; // the reporter's
    // Touched by the loop's one thread only. -1 when the source is read into memory instead.
    int pipe_[2] = {-1, -1};
    unsigned failedInARow_ = 0;
    std::chrono::steady_clock::time_point firstFailure_{};
    std::optional<std::string> failure_;
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
    std::uint64_t window = 0;
    SourceView::Progress progress;
    const char* mountPoint = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if ((argument == "--fd" || argument == "--window") && i + 1 < argc) {
            const std::string_view number = argv[++i];
            std::uint64_t value = 0;
            const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
            if (error != std::errc() || end != number.data() + number.size() ||
                (argument == "--fd" && value > 1000000)) {
                std::fprintf(stderr, "vellorin-source-view: not a number for %s: %s\n", argv[i - 1], argv[i]);
                return kRefused;
            }
            if (argument == "--fd")
                fd = static_cast<int>(value);
            else
                window = value;
        } else if (argument == "--progress" && i + 1 < argc) {
            progress.file = argv[++i];
        } else if (argument == "--session" && i + 1 < argc) {
            progress.session = argv[++i];
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

    if (window >= static_cast<std::uint64_t>(size)) {
        std::fprintf(
            stderr,
            "vellorin-source-view: the window starts at byte %llu, past the %lld bytes of the source\n",
            static_cast<unsigned long long>(window), static_cast<long long>(size));
        return kRefused;
    }

    SourceView view(fd, source, static_cast<std::uint64_t>(size), window, std::move(progress));
    if (const std::optional<std::string> error = view.serve(mountPoint)) {
        std::fprintf(stderr, "vellorin-source-view: %s\n", error->c_str());
        return kCannotServe;
    }
    return view.sourceFailed() ? kSourceFailed : kUnmounted;
}
