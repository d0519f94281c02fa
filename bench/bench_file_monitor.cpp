// The output-folder monitor over a recovery folder as a search of a large disk leaves it: a
// million files laid out as PhotoRec lays them out (recup_dir.N, 500 files each, a hidden
// report beside them), with the monitor's ticks as the engine goes on.
//
//   bench_file_monitor [FILES] [ROUNDS]     (or VELLORIN_BENCH_FILES, VELLORIN_BENCH_ROUNDS)
//
// Figures, each the median of the rounds, against a bare walk that only lstat()s every entry
// of the same tree in the same run:
// - the tick's background time while nothing changes (goal: at most 50 ms), and when the
//   engine has written 500 more files into a new folder (goal: at most 100 ms);
// - the main thread's processor time for the result of a tick whose count changed, against
//   replacing a list of as many records in a QObject and emitting the change (goal: at most
//   3 ms more);
// - the process's memory with every file listed (goal: at most 450 MB).

#include "BenchSupport.h"

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/QtQueues.h"
#include "platform/desktop/DesktopPlatform.h"
#include "workflow/RecoveredFileScan.h"
#include "workflow/ViewController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <future>
#include <string>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellorin {

// Drives the monitor's private steps one at a time.
class FileMonitorProbe {
  public:
    static void refresh(RecoveryViewModel& model, const QString& folder) {
        model.refreshRecoveredFiles(folder);
    }
};

} // namespace vellorin

namespace {

using namespace vellorin;
using namespace vellorin::bench;

constexpr int kFilesPerFolder = 500; // as PhotoRec starts a new recup_dir.N

// The least any list of a folder's files must cost the main thread: the list handed over
// and the change announced.
class ListHolder : public QObject {
    Q_OBJECT
  public:
    void replace(QList<RecoveredFile> files) {
        files_ = std::move(files);
        emit filesChanged();
    }
    QList<RecoveredFile> files_;
  signals:
    void filesChanged();
};

bool makeTree(const QString& root, long first, long count) {
    const std::string base = QFile::encodeName(root).toStdString();
    std::string folder;
    for (long i = first; i < first + count; ++i) {
        if (i % kFilesPerFolder == 0 || folder.empty()) {
            folder = base + "/recup_dir." + std::to_string(i / kFilesPerFolder + 1);
            if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
            const std::string report = folder + "/.report.xml";
            const int fd = ::open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0)
                return false;
            ::close(fd);
        }
        // PhotoRec's names: the sector the file was carved at, and the family's extension.
        static const char* const kExtensions[] = {".jpg", ".png", ".pdf", ".txt", ".mov"};
        const std::string name = folder + "/f" + std::to_string(1'000'000 + i * 64) + kExtensions[i % 5];
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const std::string bytes(16 + static_cast<std::size_t>(i % 200), 'x');
        const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        ::close(fd);
        if (!written)
            return false;
    }
    return true;
}

long bareWalkCount = 0;

int countRegular(const char*, const struct stat* info, int kind, struct FTW*) {
    if (kind == FTW_F && S_ISREG(info->st_mode))
        ++bareWalkCount;
    return 0;
}

double bareWalkMs(const QString& root) {
    bareWalkCount = 0;
    QElapsedTimer clock;
    clock.start();
    ::nftw(QFile::encodeName(root).constData(), countRegular, 64, FTW_PHYS);
    return clock.nsecsElapsed() / 1e6;
}

double threadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Runs every main-queue task already posted; returns the main thread's processor time for
// them, which other programs on the machine do not inflate the way they inflate wall time.
double drainMainQueueMs(QtQueues& queues) {
    const double start = threadCpuMs();
    while (queues.pendingMainTasks() > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    return threadCpuMs() - start;
}

struct Tick {
    double scanMs;
    double mainMs;
};

// One tick as the timer makes it: the scan on the background pool, then its result applied
// on the main queue.
Tick tick(RecoveryViewModel& model, QtQueues& queues, const QString& folder) {
    QElapsedTimer clock;
    clock.start();
    FileMonitorProbe::refresh(model, folder);
    queues.waitForWorkers();
    const double scanMs = clock.nsecsElapsed() / 1e6;
    return {scanMs, drainMainQueueMs(queues)};
}

// A scan result made, like the monitor's, on another thread than the one that frees it.
QList<RecoveredFile> scanElsewhere(const Platform& platform, const QString& folder, bool allButOne = false) {
    return std::async(std::launch::async,
                      [&] {
                          QList<RecoveredFile> files =
                              scanRecoveredFiles(*platform.fileSystem, *platform.clock, folder);
                          if (allButOne)
                              files.removeLast();
                          return files;
                      })
        .get();
}

} // namespace

int main(int argc, char** argv) {
    vellorin::bench::startAsTheApplication();
    QApplication app(argc, argv);
    const long count = sizeArgument(argc, argv, 1, "VELLORIN_BENCH_FILES", 1'000'000);
    const long rounds = sizeArgument(argc, argv, 2, "VELLORIN_BENCH_ROUNDS", 5);
    const auto folders = [](long files) { return (files + kFilesPerFolder - 1) / kFilesPerFolder; };

    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        note(QStringLiteral("cannot make a temporary folder: ") + scratch.errorString());
        return kCannotRun;
    }
    const QString folder = scratch.filePath(QStringLiteral("recovered_files"));
    QElapsedTimer making;
    making.start();
    if (!QDir().mkpath(folder) || !makeTree(folder, 0, count)) {
        note(QStringLiteral("cannot make the recovery folder: ") +
             QString::fromLocal8Bit(std::strerror(errno)));
        return kCannotRun;
    }
    note(QStringLiteral("made %1 files in %2 folders under %3 in %4 s")
             .arg(count)
             .arg(folders(count))
             .arg(folder)
             .arg(making.elapsed() / 1000.0, 0, 'f', 1));
    making.restart();

    Platform platform = desktopPlatform();
    auto queues = std::make_shared<QtQueues>();
    platform.queues = queues;
    const long residentBefore = residentKiB();
    auto model = RecoveryViewModel::create(platform);
    ListHolder holder;
    // Something listens, as the window does; what it does is the views' cost, not ours.
    long announcements = 0;
    QObject::connect(&holder, &ListHolder::filesChanged, &holder, [&announcements] { ++announcements; });
    QObject::connect(model.get(), &RecoveryViewModel::recoveredFilesChanged, model.get(),
                     [&announcements] { ++announcements; });

    Report report;
    // The first tick lists everything: what a resumed search meets once.
    bareWalkMs(folder); // the folder's entries in the cache for every timed walk
    const Tick first = tick(*model, *queues, folder);
    report.require(model->recoveredCount() == count, QStringLiteral("the first tick lists every file"));
    note(QStringLiteral("first tick: %1 ms in the background, %2 ms on the main thread")
             .arg(first.scanMs, 0, 'f', 1)
             .arg(first.mainMs, 0, 'f', 2));
    // Measured now, before the references below hold lists of their own.
    queues->waitForWorkers();
    const double residentMiB = static_cast<double>(residentKiB()) / 1024.0;
    const double bytesPerFile =
        static_cast<double>(residentKiB() - residentBefore) * 1024.0 / static_cast<double>(count);

    long total = count;
    std::vector<double> bare, quiet, arrivals, replaces, applies;
    for (long round = 0; round < rounds; ++round) {
        bare.push_back(bareWalkMs(folder));
        report.require(bareWalkCount == total + folders(total),
                       QStringLiteral("the bare walk meets every file"));

        // The reference: a list one record shorter replaced by a full one, both fresh.
        holder.replace(scanElsewhere(platform, folder, true));
        QList<RecoveredFile> full = scanElsewhere(platform, folder);
        const double replaceStart = threadCpuMs();
        holder.replace(std::move(full));
        replaces.push_back(threadCpuMs() - replaceStart);
        holder.replace({});

        // Nothing written since the last tick, then the engine's next 500 files.
        const Tick same = tick(*model, *queues, folder);
        report.require(makeTree(folder, total, kFilesPerFolder), QStringLiteral("the engine's next files"));
        total += kFilesPerFolder;
        const Tick grown = tick(*model, *queues, folder);
        report.require(model->recoveredCount() == total, QStringLiteral("the tick lists every new file"));
        quiet.push_back(same.scanMs);
        arrivals.push_back(grown.scanMs);
        applies.push_back(grown.mainMs);

        note(QStringLiteral("round %1: bare walk %2 ms; ticks %3 ms unchanged, %4 ms with 500 new files; "
                            "replace %5 ms, apply %6 ms")
                 .arg(round + 1)
                 .arg(bare.back(), 0, 'f', 1)
                 .arg(same.scanMs, 0, 'f', 1)
                 .arg(grown.scanMs, 0, 'f', 1)
                 .arg(replaces.back(), 0, 'f', 2)
                 .arg(grown.mainMs, 0, 'f', 2));
    }

    // The user removes a file the search made long ago: the next tick lists it no more.
    const std::string victim = QFile::encodeName(folder).toStdString() + "/recup_dir.1/f1000000.jpg";
    ::unlink(victim.c_str());
    const Tick removal = tick(*model, *queues, folder);
    report.require(model->recoveredCount() == total - 1, QStringLiteral("a removed file leaves the list"));
    note(QStringLiteral(
             "a file removed from the oldest folder: %1 ms in the background, %2 ms on the main thread")
             .arg(removal.scanMs, 0, 'f', 1)
             .arg(removal.mainMs, 0, 'f', 2));

    note(QStringLiteral("%1 files; medians of %2 rounds, in milliseconds").arg(total).arg(rounds));
    note(QStringLiteral("rounds took %1 s").arg(making.elapsed() / 1000.0, 0, 'f', 1));
    note(QStringLiteral(
             "memory with %1 files listed: %2 MiB resident, %3 bytes per listed file beyond the start")
             .arg(count)
             .arg(residentMiB, 0, 'f', 1)
             .arg(bytesPerFile, 0, 'f', 0));
    report.atMost("monitor_tick_unchanged_ms", median(quiet), median(bare), 50);
    report.atMost("monitor_tick_500_new_files_ms", median(arrivals), median(bare), 100);
    report.excess("monitor_apply_changed_ms", median(applies), median(replaces), 3.0);
    report.atMost("monitor_memory_with_all_listed_mb", residentMiB * 1.048576, 0, 450);
    note(QStringLiteral("tick: the monitor's background time, against a bare lstat() walk of the tree"));
    note(QStringLiteral("apply: the main thread's processor time for a tick's result, against "
                        "replacing a list of %1 records and emitting the change; goal: at most 3 ms more")
             .arg(total));
    return report.exitCode();
}

#include "bench_file_monitor.moc"
