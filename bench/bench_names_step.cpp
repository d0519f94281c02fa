// The names step against The Sleuth Kit's own tsk_recover, on one NTFS image.
//
//   bench_names_step [FILES] [ROUNDS]   (or VELLORIN_BENCH_FILES, VELLORIN_BENCH_ROUNDS)
//
// The image (1 GiB, made with mkfs.ntfs and filled through the ntfs-3g mount, so it needs
// root) holds FILES files (20,000 by default) of 1 to 32 KiB in 200 folders, all deleted
// again through the mount. Each round runs both over it, into fresh folders:
// - bare: tsk_recover IMAGE FOLDER, which writes every deleted file it can;
// - ours: NamesStep::run as a deep recovery runs it (the helper over a read-only descriptor,
//   its lines read and parsed).
// The outputs go to memory (/dev/shm) where there is one: written to a disk, either run's time
// is mostly the write-back of the other's 300 MiB, and varies two- to fivefold from run to run.
// The rounds (5 by default) alternate which goes first, the outputs are removed between runs;
// the figure is the ratio of the medians, goal at most 1.10, and both must
// restore the same number of files.

#include "BenchSupport.h"

#include "platform/ExecutableResources.h"
#include "platform/PosixEngineLauncher.h"
#include "workflow/NamesStep.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace vellorin;
using namespace vellorin::bench;

constexpr int kFolders = 200;

bool makeImage(const QString& image, const QString& mountPoint, long files) {
    if (!runTool(QStringLiteral("truncate"), {QStringLiteral("-s"), QStringLiteral("1G"), image}) ||
        !runTool(QStringLiteral("mkfs.ntfs"),
                 {QStringLiteral("-F"), QStringLiteral("-Q"), QStringLiteral("-q"), image}))
        return false;
    const QStringList mount{QStringLiteral("-t"),
                            QStringLiteral("ntfs-3g"),
                            QStringLiteral("-o"),
                            QStringLiteral("loop"),
                            image,
                            mountPoint};
    if (!runTool(QStringLiteral("mount"), mount))
        return false;
    QRandomGenerator random(20);
    QByteArray data(32 * 1024, '\0');
    bool written = true;
    for (long n = 0; n < files && written; ++n) {
        const QString folder = mountPoint + QStringLiteral("/Archive/folder%1").arg(n % kFolders);
        if (n < kFolders)
            QDir().mkpath(folder);
        random.fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
        QFile file(folder + QStringLiteral("/document%1.dat").arg(n));
        const qint64 size = 1024 + random.bounded(31 * 1024);
        written = file.open(QIODevice::WriteOnly) && file.write(data.constData(), size) == size;
    }
    written = runTool(QStringLiteral("umount"), {mountPoint}) && written;
    return written && runTool(QStringLiteral("mount"), mount) &&
           runTool(QStringLiteral("rm"), {QStringLiteral("-rf"), mountPoint + QStringLiteral("/Archive")}) &&
           runTool(QStringLiteral("umount"), {mountPoint});
}

struct Timed {
    double seconds = -1;
    long files = 0;
};

Timed runBare(const QString& tool, const QString& image, const QString& output) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(tool, {image, output});
    Timed timed;
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return timed;
    timed.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    timed.files = countRecovered(output);
    return timed;
}

Timed runOurs(const QString& helper, const QString& image, const QString& output) {
    PosixEngineLauncher launcher;
    QElapsedTimer clock;
    clock.start();
    const int fd = ::open(QFile::encodeName(image).constData(), O_RDONLY | O_CLOEXEC);
    Timed timed;
    if (fd < 0)
        return timed;
    const NamesStep::Outcome outcome = NamesStep::run(launcher, helper, fd, output, [](const QString&) {});
    ::close(fd);
    timed.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    timed.files = outcome.files.size();
    return timed;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long files = sizeArgument(argc, argv, 1, "VELLORIN_BENCH_FILES", 20000);
    const long rounds = sizeArgument(argc, argv, 2, "VELLORIN_BENCH_ROUNDS", 5);
    const std::optional<QString> tool = findTool(QStringLiteral("tsk_recover"));
    const QString helper = NamesStep::helperIn(ExecutableResources().resourceFolder().value_or(QString()));
    if (!tool || !QFileInfo(helper).isExecutable() || ::geteuid() != 0) {
        note(QStringLiteral(
            "needs tsk_recover (package sleuthkit), the build's vellorin-deleted-files, and root "
            "to mount the NTFS image it makes"));
        return kCannotRun;
    }
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/vellorin-bench-names-XXXXXX"));
    const QString image = scratch.filePath(QStringLiteral("ntfs.img")),
                  mountPoint = scratch.filePath(QStringLiteral("m"));
    QDir().mkpath(mountPoint);
    QElapsedTimer making;
    making.start();
    if (!makeImage(image, mountPoint, files)) {
        note(QStringLiteral("the NTFS image could not be made"));
        return kCannotRun;
    }
    note(QStringLiteral("1 GiB NTFS image with %1 deleted files made in %2 s")
             .arg(files)
             .arg(making.elapsed() / 1000.0));
    readThrough(image);

    const QString outputs =
        QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : scratch.path();
    Report report;
    std::vector<double> bare, ours;
    for (long round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool bareTurn = (turn == 0) == (round % 2 == 0);
            const QString output =
                outputs +
                QStringLiteral("/vellorin-bench-names-%1-%2-%3").arg(::getpid()).arg(round).arg(turn);
            QDir().mkpath(output);
            settleDisk();
            const Timed run = bareTurn ? runBare(*tool, image, output) : runOurs(helper, image, output);
            note(QStringLiteral("round %1, %2: %3 s, %4 files restored")
                     .arg(round + 1)
                     .arg(bareTurn ? QStringLiteral("tsk_recover") : QStringLiteral("names step"))
                     .arg(run.seconds, 0, 'f', 2)
                     .arg(run.files));
            report.require(run.seconds > 0 && run.files == files,
                           QStringLiteral("every run restores all %1 deleted files").arg(files));
            (bareTurn ? bare : ours).push_back(run.seconds);
            QDir(output).removeRecursively();
        }
    }
    note(QStringLiteral(
             "wall time in seconds, medians of %1 runs each; goal: the names step at most 10% slower "
             "than tsk_recover")
             .arg(rounds));
    report.ratio("names_step_wall_s", median(ours), median(bare), 1.10);
    report.info("names_step_wall_fastest_s", *std::min_element(ours.begin(), ours.end()),
                *std::min_element(bare.begin(), bare.end()));
    return report.exitCode();
}
