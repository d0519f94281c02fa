// A deep recovery through the application against PhotoRec run bare, on one FAT image.
//
//   bench_deep_recovery [IMAGE_MIB] [ROUNDS]   (or VELLORIN_BENCH_IMAGE_MIB, VELLORIN_BENCH_ROUNDS)
//
// The image (256 MiB by default, made with mkfs.vfat and mtools, no mount) holds a few
// hundred JPEG, PNG, BMP and text files, a fifth of them deleted. Each round runs both:
// - bare: PhotoRec as our script starts it (its command list, /d into a fresh folder,
//   TERM=dumb, standard input closed, its screen output into a pipe that is drained);
// - the application: RecoveryViewModel::startRecovery with the production services and the
//   build's resource folder, the completion alert answered "View Later" at once, from the
//   start until the recovery has ended, with the event loop turning.
// The rounds (7 by default) alternate which goes first; the figure is the ratio of the
// medians, goal at most 1.10 (the application's engine reads Vellorin's view of the image,
// whose own cost bench_source_view measures), and every run must recover the same number
// of files. The fastest runs and the processor time of each side are printed beside it for
// information. The same rounds follow with the search limited to Pictures, the bare engine
// given the same formats, goal at most 1.05. These two leave the names step out. The last
// rounds run it, as a recovery does by default: the time it and the removal of carved copies
// add to the whole recovery, in percent of the bare engine's, is shown for information.

#include "BenchSupport.h"

#include "platform/Alerts.h"
#include "platform/Platform.h"
#include "platform/Resources.h"
#include "workflow/ScanOptions.h"
#include "workflow/ViewController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>

#include <optional>

namespace {

using namespace vellorin;
using namespace vellorin::bench;

Run runApplication(const Platform& platform, AnsweringAlerts& alerts, const QString& image,
                   const QString& save, const ScanOptions& options) {
    auto model = RecoveryViewModel::create(platform);
    model->setScanOptions(options);
    QEventLoop loop;
    bool started = false;
    bool ended = false;
    QObject::connect(model.get(), &RecoveryViewModel::isRecoveringChanged, &loop, [&] {
        if (model->isRecovering()) {
            started = true;
        } else if (started) {
            ended = true;
            loop.quit();
        }
    });
    const qsizetype alertsBefore = alerts.titles.size();

    Run run;
    QElapsedTimer clock;
    // Where the time goes: until the script runs, until it speaks, after its last word.
    qint64 launchedNs = -1, firstWordNs = -1, lastWordNs = -1;
    QObject::connect(model.get(), &RecoveryViewModel::logLineAppended, &loop, [&](const QString& line) {
        if (launchedNs < 0 && line.contains(QStringLiteral("PhotoRec automation script started...")))
            launchedNs = clock.nsecsElapsed();
        if (line.contains(QStringLiteral("] PhotoRec: "))) {
            lastWordNs = clock.nsecsElapsed();
            if (firstWordNs < 0)
                firstWordNs = lastWordNs;
        }
    });
    clock.start();
    model->startRecovery(image, save);
    if (!ended)
        loop.exec();
    run.seconds = clock.nsecsElapsed() / 1e9;
    const qint64 endNs = clock.nsecsElapsed();

    // The alert is asked right after the end, in the same main-queue task.
    const bool alerted = alerts.titles.size() == alertsBefore + 1 &&
                         alerts.titles.last() == QStringLiteral("Recovery Completed");
    run.succeeded = model->statusMessage() == QStringLiteral("Recovery Completed!") && alerted;
    run.files = countRecovered(save + QStringLiteral("/recovered_files"));
    run.detail =
        QStringLiteral("%1 listed, status \"%2\"; script launched at %3 ms, first line at %4 ms, %5 ms from "
                       "its last line to the end")
            .arg(model->recoveredCount())
            .arg(model->statusMessage())
            .arg(launchedNs / 1'000'000)
            .arg(firstWordNs / 1'000'000)
            .arg((endNs - lastWordNs) / 1'000'000);
    if (model->recoveredCount() != run.files) {
        run.succeeded = false;
        run.detail += QStringLiteral(", but the list does not hold every file");
    }
    return run;
}

} // namespace

int main(int argc, char** argv) {
    vellorin::bench::startAsTheApplication();
    QApplication app(argc, argv);
    const long imageMiB = sizeArgument(argc, argv, 1, "VELLORIN_BENCH_IMAGE_MIB", 256);
    const long rounds = sizeArgument(argc, argv, 2, "VELLORIN_BENCH_ROUNDS", 7);

    Platform platform = Platform::system();
    auto alerts = std::make_shared<AnsweringAlerts>();
    platform.alerts = alerts;
    const std::optional<CardBench> card = prepareCardBench(platform.resources->resourceFolder(), imageMiB);
    if (!card)
        return kCannotRun;

    Report report;
    // Every kind, then Pictures only: the engine reads less of what it finds, so the view's
    // share of the time grows.
    const ScanOptions everything{{}, false, false};
    const ScanOptions pictures{{FileFamily::Pictures}, false, false};
    const ScanOptions namesFirst;
    double plainApplication = 0; // the first rounds' median: the same search without the names step
    for (const ScanOptions* options : {&everything, &pictures, &namesFirst}) {
        const bool limited = !options->families.isEmpty();
        const bool names = options->namesFirst;
        const Engine bareEngine{card->engine.program,
                                limited ? limitedCommands(card->engine.commands, options->engineFormats())
                                        : card->engine.commands};
        std::vector<double> bare, application, bareProcessor, applicationProcessor;
        long firstCount = -1;
        for (long round = 0; round < rounds; ++round) {
            for (int turn = 0; turn < 2; ++turn) {
                const bool bareTurn = (turn == 0) == (round % 2 == 0);
                const QString save = card->saveFolder(round, turn);
                const double processorBefore = processorSeconds();
                Run run = bareTurn ? runBare(bareEngine, card->image, save)
                                   : runApplication(platform, *alerts, card->image, save, *options);
                run.processor = processorSeconds() - processorBefore;
                (bareTurn ? bare : application).push_back(run.seconds);
                (bareTurn ? bareProcessor : applicationProcessor).push_back(run.processor);
                note(QStringLiteral("%1round %2, %3: %4 s (processor %5 s), %6 files recovered (%7)")
                         .arg(limited ? QStringLiteral("pictures only, ")
                              : names ? QStringLiteral("names first, ")
                                      : QString())
                         .arg(round + 1)
                         .arg(bareTurn ? QStringLiteral("bare PhotoRec") : QStringLiteral("application"))
                         .arg(run.seconds, 0, 'f', 2)
                         .arg(run.processor, 0, 'f', 2)
                         .arg(run.files)
                         .arg(run.detail));
                // Restored files and carved ones need not be as many: a text file is found by name
                // but not carved whole.
                if (!names)
                    requireAsManyFiles(report, run, firstCount);
                else
                    report.require(run.succeeded, QStringLiteral("the recovery with names first succeeds"));
                QDir(save).removeRecursively();
            }
        }
        if (names) {
            note(QStringLiteral(
                     "names first: the names step and the removal of carved copies add %1 s, %2% of "
                     "PhotoRec's own time, to the recovery without them (for information)")
                     .arg(median(application) - plainApplication, 0, 'f', 2)
                     .arg((median(application) - plainApplication) / median(bare) * 100, 0, 'f', 1));
            report.info("deep_recovery_names_first_wall_s", median(application), plainApplication);
        } else if (!limited) {
            note(QStringLiteral(
                     "wall time in seconds, medians of %1 runs each; goal: the application, its engine "
                     "reading the view, at most 10% slower")
                     .arg(rounds));
            report.ratio("deep_recovery_wall_s", median(application), median(bare), 1.10);
            plainApplication = median(application);
            // Other programs on the machine only ever add time: the fastest runs show the cost
            // with the least disturbance, and processor time shows the work the application adds.
            report.info("deep_recovery_wall_fastest_s",
                        *std::min_element(application.begin(), application.end()),
                        *std::min_element(bare.begin(), bare.end()));
            report.info("deep_recovery_processor_s", median(applicationProcessor), median(bareProcessor));
            report.info("deep_recovery_wall_paired_ratio", pairedRatio(application, bare), 1.0);
        } else {
            note(QStringLiteral(
                "Pictures only, against PhotoRec run bare with the same formats; goal at most 5% "
                "slower"));
            report.ratio("deep_recovery_pictures_wall_s", median(application), median(bare), 1.05);
            report.info("deep_recovery_pictures_wall_fastest_s",
                        *std::min_element(application.begin(), application.end()),
                        *std::min_element(bare.begin(), bare.end()));
            report.info("deep_recovery_pictures_wall_paired_ratio", pairedRatio(application, bare), 1.0);
        }
    }
    return report.exitCode();
}
