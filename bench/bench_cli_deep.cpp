// `vellorin-recover IMAGE SAVE --deep --no-names` against PhotoRec run bare, on one FAT image.
//
//   bench_cli_deep [IMAGE_MIB] [ROUNDS]   (or VELLORIN_BENCH_IMAGE_MIB, VELLORIN_BENCH_ROUNDS)
//
// The image is bench_deep_recovery's (256 MiB by default, a few hundred JPEG, PNG, BMP and
// text files, a fifth of them deleted), and the bare engine runs as it runs there: as our
// script starts it. The program runs as from a script: plain output into a file, standard
// input closed. The rounds (7 by default) alternate which goes first; the figure is the ratio
// of the medians, goal at most 1.10 (its engine reads Vellorin's view of the image), and every
// run must recover as many files as the bare engine. The last rounds run it with and without
// --no-names in turn: the time the names step and the removal of carved copies add, in percent
// of the run without them, is shown for information.

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

using namespace vellorin::bench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long imageMiB = sizeArgument(argc, argv, 1, "VELLORIN_BENCH_IMAGE_MIB", 256);
    const long rounds = sizeArgument(argc, argv, 2, "VELLORIN_BENCH_ROUNDS", 7);
    const QString program = QStringLiteral(VELLORIN_RECOVER);
    // The program finds its resource folder beside itself, as the benchmarks find theirs.
    const QString resources =
        QDir::cleanPath(QFileInfo(program).absolutePath() + QStringLiteral("/../share/vellorin"));
    const std::optional<CardBench> card = prepareCardBench(resources, imageMiB);
    if (!card)
        return kCannotRun;
    if (!runCommand(program, {QStringLiteral("--version")})) {
        note(QStringLiteral("cannot run ") + program);
        return kCannotRun;
    }

    Report report;
    const auto runOurs = [&](long round, int turn, bool names) {
        const QString save = card->saveFolder(round + (names ? rounds : 0), turn);
        QStringList arguments{card->image, save, QStringLiteral("--deep")};
        if (!names)
            arguments.append(QStringLiteral("--no-names"));
        const QString log = card->scratch->filePath(
            QStringLiteral("output-%1-%2-%3.txt").arg(names ? "names" : "plain").arg(round).arg(turn));
        Run run = runRecoverCommand(program, arguments, save, log);
        QDir(save).removeRecursively();
        return run;
    };
    const auto tell = [&](const char* phase, long round, const char* who, const Run& run) {
        note(QStringLiteral("%1round %2, %3: %4 s (processor %5 s), %6 files recovered (%7)")
                 .arg(QLatin1String(phase))
                 .arg(round + 1)
                 .arg(QLatin1String(who))
                 .arg(run.seconds, 0, 'f', 2)
                 .arg(run.processor, 0, 'f', 2)
                 .arg(run.files)
                 .arg(run.detail));
    };

    std::vector<double> bare, ours, bareProcessor, oursProcessor;
    long firstCount = -1;
    for (long round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool bareTurn = (turn == 0) == (round % 2 == 0);
            Run run;
            if (bareTurn) {
                const QString save = card->saveFolder(round, turn);
                const double processorBefore = processorSeconds();
                run = runBare(card->engine, card->image, save);
                run.processor = processorSeconds() - processorBefore;
                QDir(save).removeRecursively();
            } else {
                run = runOurs(round, turn, false);
            }
            (bareTurn ? bare : ours).push_back(run.seconds);
            (bareTurn ? bareProcessor : oursProcessor).push_back(run.processor);
            tell("", round, bareTurn ? "bare PhotoRec" : "vellorin-recover --no-names", run);
            requireAsManyFiles(report, run, firstCount);
        }
    }
    note(QStringLiteral("wall time in seconds, medians of %1 runs each; goal: vellorin-recover, its engine "
                        "reading the view, at most 10% slower")
             .arg(rounds));
    report.ratio("cli_deep_wall_s", median(ours), median(bare), 1.10);
    // Other programs on the machine only ever add time: the fastest runs show the cost with the
    // least disturbance, and processor time shows the work the program adds.
    report.info("cli_deep_wall_fastest_s", *std::min_element(ours.begin(), ours.end()),
                *std::min_element(bare.begin(), bare.end()));
    report.info("cli_deep_processor_s", median(oursProcessor), median(bareProcessor));
    report.info("cli_deep_wall_paired_ratio", pairedRatio(ours, bare), 1.0);
    const double imageMB = static_cast<double>(imageMiB) * 1024 * 1024 / 1e6;
    note(QStringLiteral("throughput: %1 MB/s of image (bare PhotoRec: %2 MB/s)")
             .arg(imageMB / median(ours), 0, 'f', 1)
             .arg(imageMB / median(bare), 0, 'f', 1));

    // The same rounds again, each with and without the names step in turn, so that both meet
    // the same load. Restored files and carved ones need not be as many: a text file is found by
    // name but not carved whole.
    std::vector<double> named, plain;
    for (long round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool names = (turn == 0) == (round % 2 == 0);
            const Run run = runOurs(round, turn, names);
            (names ? named : plain).push_back(run.seconds);
            tell("names step, ", round, names ? "vellorin-recover" : "vellorin-recover --no-names", run);
            if (names)
                report.require(run.succeeded && run.files > 0,
                               QStringLiteral("the recovery with the names step succeeds"));
            else
                requireAsManyFiles(report, run, firstCount);
        }
    }
    const double extra = median(named) - median(plain);
    note(QStringLiteral("the names step and the removal of carved copies add %1 s, %2% of the run with "
                        "--no-names (for information)")
             .arg(extra, 0, 'f', 2)
             .arg(extra / median(plain) * 100, 0, 'f', 1));
    report.info("cli_deep_names_wall_s", median(named), median(plain));
    report.info("cli_deep_names_wall_paired_ratio", pairedRatio(named, plain), 1.0);
    return report.exitCode();
}
