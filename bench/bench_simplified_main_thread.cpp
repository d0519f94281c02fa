// The main thread while a simplified recovery lists 100,000 small files: the longest time
// between two turns of the event loop, the peak memory, and whether putting a file at the
// head of the list costs more as the list grows (the last tenth of the updates against the
// first tenth).

#include "BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

using namespace vellorin;
using namespace vellorin::bench;

namespace {

// The production queues, timing every task that runs on the main thread.
class TimedQueues final : public Queues {
  public:
    void postMain(Task task) override { inner_.postMain(timed(std::move(task))); }
    std::optional<std::uint64_t> postMainCounted(Task task) override {
        return inner_.postMainCounted(timed(std::move(task)));
    }
    std::optional<std::uint64_t> lastMainPost() override { return inner_.lastMainPost(); }
    void userInitiated(Task task) override { inner_.userInitiated(std::move(task)); }
    void background(Task task) override { inner_.background(std::move(task)); }

    std::vector<qint64> durations; // main thread only

  private:
    Task timed(Task task) {
        return [this, task = std::move(task)] {
            QElapsedTimer timer;
            timer.start();
            task();
            durations.push_back(timer.nsecsElapsed());
        };
    }
    QtQueues inner_;
};

bool makeTree(const QString& root, int files) {
    for (int i = 0; i < files; ++i) {
        const QString folder = root + QStringLiteral("/f%1").arg(i % 100);
        if (i < 100)
            QDir().mkpath(folder);
        const QByteArray name = QFile::encodeName(folder + QStringLiteral("/note%1.txt").arg(i));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return false;
        const bool ok = ::write(fd, "recovered\n", 10) == 10;
        ::close(fd);
        if (!ok)
            return false;
    }
    return true;
}

double meanMs(const std::vector<qint64>& values, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += static_cast<double>(values[i]);
    return to > from ? sum / static_cast<double>(to - from) / 1e6 : 0;
}

} // namespace

int main(int argc, char** argv) {
    vellorin::bench::startAsTheApplication();
    QApplication app(argc, argv);
    const int files = scaled(100000);
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/vellorin-bench-XXXXXX"));
    const QString source = scratch.path() + QStringLiteral("/source");
    const QString save = scratch.path() + QStringLiteral("/save");
    if (!makeTree(source, files) || !QDir().mkpath(save)) {
        std::fprintf(stderr, "could not write the source tree\n");
        return 2;
    }
    std::printf("# Main thread while %d small files are recovered and listed\n", files);

    Platform platform = benchPlatform(std::nullopt);
    auto queues = std::make_shared<TimedQueues>();
    platform.queues = queues;
    const long residentBefore = peakResidentKiB();
    const auto model = RecoveryViewModel::create(platform);

    // A zero-interval timer fires once every turn of the loop: the gaps between its firings
    // are how long the window could not paint or take input.
    QElapsedTimer sinceTurn;
    qint64 longestGap = 0;
    QTimer turn;
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTurn.nsecsElapsed());
        sinceTurn.restart();
    });

    // Only the updates that put files at the head of the list: the task, and how many files.
    std::vector<std::pair<qint64, qsizetype>> headInsertions;
    QObject::connect(model.get(), &RecoveryViewModel::recoveredFilesPrepended, [&](qsizetype count) {
        headInsertions.emplace_back(static_cast<qint64>(queues->durations.size()), count);
    });

    sinceTurn.start();
    turn.start();
    const double seconds = runRecovery(*model, source, save);
    turn.stop();
    if (model->recoveredFiles().size() != files) {
        std::fprintf(stderr, "listed %lld of %d files\n",
                     static_cast<long long>(model->recoveredFiles().size()), files);
        return 2;
    }

    // The task that made the n-th head insertion is the one running when it was signalled;
    // its cost per file it listed.
    std::vector<qint64> insertionTasks;
    insertionTasks.reserve(headInsertions.size());
    for (const auto& [index, count] : headInsertions)
        insertionTasks.push_back(queues->durations[static_cast<std::size_t>(index)] /
                                 std::max<qsizetype>(count, 1));
    std::printf("# %zu main-thread tasks in all, %zu of them listing files\n", queues->durations.size(),
                headInsertions.size());
    const std::size_t tenth = insertionTasks.size() / 10;
    const double first = meanMs(insertionTasks, 0, tenth);
    const double last = meanMs(insertionTasks, insertionTasks.size() - tenth, insertionTasks.size());

    Report report;
    report.info("main_thread_run_seconds", seconds, 0);
    report.excess("main_thread_longest_loop_gap_ms", static_cast<double>(longestGap) / 1e6, 50, 0);
    report.ratio("main_thread_head_insert_ms_per_file_last_vs_first_tenth", last, first, 2.0);
    report.info("main_thread_peak_memory_mib", static_cast<double>(peakResidentKiB()) / 1024.0, 0);
    report.info("main_thread_memory_bytes_per_listed_file",
                static_cast<double>(peakResidentKiB() - residentBefore) * 1024.0 / files, 0);
    return report.exitCode();
}
