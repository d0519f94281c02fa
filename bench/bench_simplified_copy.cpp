// The simplified recovery's copying against `cp -a` of the same tree into the same file
// system: 2,000 files of mixed sizes, about 300 MB, every one of them recoverable.

#include "BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace vellorin;
using namespace vellorin::bench;

int main(int argc, char** argv) {
    vellorin::bench::startAsTheApplication();
    QApplication app(argc, argv);
    const int files = scaled(2000);
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/vellorin-bench-XXXXXX"));
    const QString source = scratch.path() + QStringLiteral("/source");
    const qint64 bytes = makeRecoverableTree(source, files);
    if (bytes < 0) {
        std::fprintf(stderr, "could not write the source tree\n");
        return 2;
    }
    std::printf("# Simplified recovery of %d files, %.0f MB, against cp -a (median of 5 runs each)\n", files,
                static_cast<double>(bytes) / 1e6);
    // Both read from the page cache: read the tree once before any timed run.
    runCommand(QStringLiteral("cp"),
               {QStringLiteral("-a"), source, scratch.path() + QStringLiteral("/warm")});
    QDir(scratch.path() + QStringLiteral("/warm")).removeRecursively();

    const auto model = RecoveryViewModel::create(benchPlatform(std::nullopt));
    std::vector<double> ours, reference;
    const auto runCp = [&](int run) {
        const QString copyTarget = scratch.path() + QStringLiteral("/cp%1").arg(run);
        settleDisk();
        reference.push_back(timeCommand(QStringLiteral("cp"), {QStringLiteral("-a"), source, copyTarget}));
        QDir(copyTarget).removeRecursively();
    };
    const auto runOurs = [&](int run) {
        const QString save = scratch.path() + QStringLiteral("/save%1").arg(run);
        QDir().mkpath(save);
        settleDisk();
        ours.push_back(runRecovery(*model, source, save));
        const bool complete = model->recoveredCount() == files;
        QDir(save).removeRecursively();
        return complete;
    };
    // Each goes first in turn, so neither always meets the other's write-back.
    for (int run = 0; run < 5; ++run) {
        if (run % 2)
            runCp(run);
        if (!runOurs(run)) {
            std::fprintf(stderr, "recovered %lld of %d files\n",
                         static_cast<long long>(model->recoveredCount()), files);
            return 2;
        }
        if (run % 2 == 0)
            runCp(run);
    }
    if (*std::min_element(reference.begin(), reference.end()) < 0) {
        std::fprintf(stderr, "cp -a failed\n");
        return 2;
    }

    Report report;
    report.ratio("copy_seconds_vs_cp_a", median(ours), median(reference), 1.10);
    std::printf("# throughput: %.0f MB/s (cp -a: %.0f MB/s)\n",
                static_cast<double>(bytes) / 1e6 / median(ours),
                static_cast<double>(bytes) / 1e6 / median(reference));
    return report.exitCode();
}
