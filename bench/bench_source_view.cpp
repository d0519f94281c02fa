// PhotoRec scanning an image through our read-only source view against PhotoRec scanning the
// image itself, and what the view reads per second against the descriptor it serves.
//
//   bench_source_view [IMAGE_MIB] [ROUNDS]   (or VELLORIN_BENCH_IMAGE_MIB, VELLORIN_BENCH_ROUNDS)
//
// The image is the deep recovery benchmark's (256 MiB of FAT by default, a few hundred
// pictures and notes, a fifth of them deleted), opened read-only once. Each round, in an order
// that alternates from round to round:
// - PhotoRec as our script starts it, once on the image and once on MOUNT/source of a view
//   started for that run alone (the image's descriptor as its descriptor 3, the mount point in
//   a private folder); the figure is the ratio of the medians, goal at most 1.10, and every run
//   must recover the same number of files;
// - the view's file read to its end with pread in 1 MiB blocks, from a fresh mount, against
//   pread of the descriptor itself; MiB/s, for information.
// The helper is <build>/libexec/vellorin/vellorin-source-view, the build being
// VELLORIN_BUILD_DIR when set, else the folder above this benchmark's.

#include "BenchSupport.h"

#include "platform/ExecutableResources.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

using namespace vellorin::bench;

constexpr qint64 kBlock = 1 << 20;

QString helperPath() {
    const QString build = qEnvironmentVariable("VELLORIN_BUILD_DIR");
    const QString root =
        build.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : build;
    return QDir::cleanPath(root + QStringLiteral("/libexec/vellorin/vellorin-source-view"));
}

// One run of the helper serving the descriptor at mountPoint, stopped as the script stops it
// (SIGTERM) at the latest when it goes out of scope.
class MountedView {
  public:
    MountedView(const QString& helper, int fd, const QString& mountPoint)
        : source_(mountPoint + QStringLiteral("/source")) {
        // The helper takes its source on descriptor 3; ours is close-on-exec, so only it gets one.
        process_.setChildProcessModifier([fd] {
            if (fd == 3)
                ::fcntl(fd, F_SETFD, 0);
            else
                ::dup2(fd, 3);
        });
        process_.setStandardInputFile(QProcess::nullDevice());
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        process_.start(helper, {mountPoint});
        // Ready as the script sees it: the file is there while the helper still runs.
        while (process_.state() != QProcess::NotRunning && clock.elapsed() < 10'000) {
            if (QFileInfo::exists(source_)) {
                readySeconds_ = clock.nsecsElapsed() / 1e9;
                return;
            }
            process_.waitForFinished(5);
        }
    }
    ~MountedView() { stop(); }
    MountedView(const MountedView&) = delete;
    MountedView& operator=(const MountedView&) = delete;

    bool ready() const { return readySeconds_ >= 0; }
    double readySeconds() const { return readySeconds_; }
    const QString& source() const { return source_; }

    // Whether the helper unmounted and exited 0 on SIGTERM.
    bool stop() {
        if (process_.state() == QProcess::NotRunning)
            return stopped_;
        process_.terminate();
        stopped_ = process_.waitForFinished(10'000) && process_.exitStatus() == QProcess::NormalExit &&
                   process_.exitCode() == 0 && !QFileInfo::exists(source_);
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(-1);
        }
        return stopped_;
    }

  private:
    QProcess process_;
    QString source_;
    double readySeconds_ = -1;
    bool stopped_ = false;
};

// Reads size bytes of fd from the start in blocks of kBlock; MiB/s, or nothing when a read failed.
std::optional<double> readRate(int fd, qint64 size) {
    std::vector<char> block(kBlock);
    QElapsedTimer clock;
    clock.start();
    qint64 done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, block.data(), block.size(), done);
        if (got <= 0)
            return std::nullopt;
        done += got;
    }
    return size / (1024.0 * 1024.0) / (clock.nsecsElapsed() / 1e9);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long imageMiB = sizeArgument(argc, argv, 1, "VELLORIN_BENCH_IMAGE_MIB", 256);
    const long rounds = sizeArgument(argc, argv, 2, "VELLORIN_BENCH_ROUNDS", 5);
    const QString helper = helperPath();
    if (!QFileInfo(helper).isExecutable()) {
        note(QStringLiteral("no helper at %1: build the vellorin-source-view target").arg(helper));
        return kCannotRun;
    }
    const std::optional<CardBench> card =
        prepareCardBench(vellorin::ExecutableResources().resourceFolder(), imageMiB);
    if (!card)
        return kCannotRun;
    // Nobody else may see the view while it is mounted: the script mounts in a private folder too.
    const QString privateFolder = card->scratch->filePath(QStringLiteral("view"));
    const QString mountPoint = privateFolder + QStringLiteral("/mount");
    if (!QDir().mkdir(privateFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
        !QDir().mkdir(mountPoint)) {
        note(QStringLiteral("cannot make the mount point ") + mountPoint);
        return kCannotRun;
    }
    const int fd = ::open(QFile::encodeName(card->image).constData(), O_RDONLY | O_CLOEXEC);
    const qint64 size = QFileInfo(card->image).size();
    if (fd < 0) {
        note(QStringLiteral("cannot open the image"));
        return kCannotRun;
    }

    Report report;
    std::vector<double> bare, viewed, ready, directRates, viewRates;
    long firstCount = -1;
    for (long round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool bareTurn = (turn == 0) == (round % 2 == 0);
            const QString save = card->saveFolder(round, turn);
            Run run;
            if (bareTurn) {
                run = runBare(card->engine, card->image, save);
                bare.push_back(run.seconds);
            } else {
                MountedView view(helper, fd, mountPoint);
                report.require(view.ready(), QStringLiteral("the view is mounted"));
                if (!view.ready())
                    return report.exitCode();
                ready.push_back(view.readySeconds());
                run = runBare(card->engine, view.source(), save);
                viewed.push_back(run.seconds);
                report.require(view.stop(), QStringLiteral("the view unmounts and exits 0 on SIGTERM"));
            }
            note(QStringLiteral("round %1, PhotoRec on %2: %3 s, %4 files recovered (%5)")
                     .arg(round + 1)
                     .arg(bareTurn ? QStringLiteral("the image") : QStringLiteral("the view"))
                     .arg(run.seconds, 0, 'f', 2)
                     .arg(run.files)
                     .arg(run.detail));
            requireAsManyFiles(report, run, firstCount);
            QDir(save).removeRecursively();
        }
        for (int turn = 0; turn < 2; ++turn) {
            std::optional<double> rate;
            if ((turn == 0) == (round % 2 == 0)) {
                rate = readRate(fd, size);
                directRates.push_back(rate.value_or(0));
            } else {
                MountedView view(helper, fd, mountPoint);
                const int viewFd = ::open(QFile::encodeName(view.source()).constData(), O_RDONLY | O_CLOEXEC);
                if (viewFd >= 0 && QFileInfo(view.source()).size() == size)
                    rate = readRate(viewFd, size);
                if (viewFd >= 0)
                    ::close(viewFd);
                viewRates.push_back(rate.value_or(0));
            }
            report.require(rate.has_value(), QStringLiteral("every byte of the source is read"));
        }
        note(QStringLiteral(
                 "round %1, pread in 1 MiB blocks: %2 MiB/s from the descriptor, %3 MiB/s from the view")
                 .arg(round + 1)
                 .arg(directRates.back(), 0, 'f', 0)
                 .arg(viewRates.back(), 0, 'f', 0));
    }
    ::close(fd);

    note(QStringLiteral("the view was ready %1 ms after the helper started (median)")
             .arg(median(ready) * 1000, 0, 'f', 1));
    note(QStringLiteral("PhotoRec wall time in seconds, medians of %1 runs each; goal: on the view at most "
                        "10% slower than on the image")
             .arg(rounds));
    report.ratio("source_view_photorec_wall_s", median(viewed), median(bare), 1.10);
    report.info("source_view_photorec_wall_fastest_s", *std::min_element(viewed.begin(), viewed.end()),
                *std::min_element(bare.begin(), bare.end()));
    report.info("source_view_photorec_wall_paired_ratio", pairedRatio(viewed, bare), 1.0);
    note(QStringLiteral("read throughput in MiB/s, the view's against the descriptor's, medians"));
    report.info("source_view_read_mib_s", median(viewRates), median(directRates));
    return report.exitCode();
}
