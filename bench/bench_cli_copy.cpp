// `vellorin-recover SOURCE SAVE --copy` against `cp -a` of the same tree into the same file
// system, both started as child processes: 2,000 files of mixed sizes, about 300 MB, every one
// of them recoverable (the tree of bench_simplified_copy).
//
// The runs alternate which goes first, the page cache is warm, and what an earlier run wrote
// is flushed before each one. The figure is the ratio of the medians of 5 runs each, goal at
// most 1.05: the program's start, its checks of the two places and its summary are all the
// command line adds to the copy. Every run must exit 0 with every file below
// SAVE/recovered_files.

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

using namespace vellorin::bench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString program = QStringLiteral(VELLORIN_RECOVER);
    const int files = scaled(2000);
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/vellorin-bench-XXXXXX"));
    const QString source = scratch.path() + QStringLiteral("/source");
    const qint64 bytes = makeRecoverableTree(source, files);
    if (bytes < 0) {
        note(QStringLiteral("could not write the source tree"));
        return kCannotRun;
    }
    note(QStringLiteral("vellorin-recover --copy of %1 files, %2 MB, against cp -a (median of 5 runs each)")
             .arg(files)
             .arg(static_cast<double>(bytes) / 1e6, 0, 'f', 0));
    // Both read from the page cache, and neither loads its program from the disk.
    runCommand(QStringLiteral("cp"),
               {QStringLiteral("-a"), source, scratch.path() + QStringLiteral("/warm")});
    QDir(scratch.path() + QStringLiteral("/warm")).removeRecursively();
    if (!runCommand(program, {QStringLiteral("--version")})) {
        note(QStringLiteral("cannot run ") + program);
        return kCannotRun;
    }

    Report report;
    std::vector<double> ours, reference, oursProcessor, referenceProcessor;
    const auto runCp = [&](int run) {
        const QString target = scratch.path() + QStringLiteral("/cp%1").arg(run);
        settleDisk();
        const double before = processorSeconds();
        const double seconds = timeCommand(QStringLiteral("cp"), {QStringLiteral("-a"), source, target});
        referenceProcessor.push_back(processorSeconds() - before);
        report.require(seconds >= 0 && countRecovered(target) == files,
                       QStringLiteral("cp -a copied every file"));
        reference.push_back(seconds);
        QDir(target).removeRecursively();
    };
    const auto runOurs = [&](int run) {
        const QString save = scratch.path() + QStringLiteral("/save%1").arg(run);
        QDir().mkpath(save);
        settleDisk();
        const Run result = runRecoverCommand(program, {source, save, QStringLiteral("--copy")}, save,
                                             scratch.path() + QStringLiteral("/output%1.txt").arg(run));
        ours.push_back(result.seconds);
        oursProcessor.push_back(result.processor);
        report.require(result.succeeded,
                       QStringLiteral("vellorin-recover --copy exited 0 (%1)").arg(result.detail));
        report.require(
            result.files == files,
            QStringLiteral("vellorin-recover --copy recovered %1 of %2 files").arg(result.files).arg(files));
        QDir(save).removeRecursively();
    };
    // Each goes first in turn, so neither always meets the other's write-back.
    for (int run = 0; run < 5; ++run) {
        if (run % 2)
            runCp(run);
        runOurs(run);
        if (run % 2 == 0)
            runCp(run);
        note(QStringLiteral(
                 "run %1 (%2 first): vellorin-recover %3 s (processor %4 s), cp -a %5 s (processor %6 s)")
                 .arg(run + 1)
                 .arg(run % 2 ? QStringLiteral("cp -a") : QStringLiteral("vellorin-recover"))
                 .arg(ours.back(), 0, 'f', 3)
                 .arg(oursProcessor.back(), 0, 'f', 3)
                 .arg(reference.back(), 0, 'f', 3)
                 .arg(referenceProcessor.back(), 0, 'f', 3));
    }

    report.ratio("cli_copy_seconds_vs_cp_a", median(ours), median(reference), 1.05);
    report.info("cli_copy_processor_s", median(oursProcessor), median(referenceProcessor));
    report.info("cli_copy_paired_ratio", pairedRatio(ours, reference), 1.0);
    note(QStringLiteral("throughput: %1 MB/s (cp -a: %2 MB/s)")
             .arg(static_cast<double>(bytes) / 1e6 / median(ours), 0, 'f', 0)
             .arg(static_cast<double>(bytes) / 1e6 / median(reference), 0, 'f', 0));
    return report.exitCode();
}
