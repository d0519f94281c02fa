// How true the time left is on a slow disk: a deep recovery through the application of the
// card image served at a fixed rate by the failing-disk stand-in (a FUSE file system whose
// reads sleep), the time left it shows set against the time the search really took.
//
//   bench_time_left [IMAGE_MIB] [SECONDS]   (or VELLORIN_BENCH_IMAGE_MIB, VELLORIN_BENCH_SEARCH_SECONDS)
//
// The image (128 MiB by default) is served so that the search takes about SECONDS (60). The
// figure is the median absolute error of the time left shown from 25% to 90% of the main
// pass, in percent of the true remaining time; its reference is the same error of the plain
// estimate "time so far times what is left over what is done", measured on the same updates.
// Goal: at most 25%.

#include "BenchSupport.h"

#include "workflow/ScanOptions.h"
#include "workflow/ViewController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QThread>

#include <cmath>

using namespace vellorin;
using namespace vellorin::bench;

int main(int argc, char** argv) {
    startAsTheApplication();
    QApplication app(argc, argv);
    const long imageMiB = sizeArgument(argc, argv, 1, "VELLORIN_BENCH_IMAGE_MIB", 128);
    const long searchSeconds = sizeArgument(argc, argv, 2, "VELLORIN_BENCH_SEARCH_SECONDS", 60);

    Platform platform = Platform::system();
    platform.alerts = std::make_shared<AnsweringAlerts>();
    const std::optional<CardBench> card = prepareCardBench(platform.resources->resourceFolder(), imageMiB);
    if (!card)
        return kCannotRun;
    const QString mount = card->scratch->filePath(QStringLiteral("disk"));
    QDir().mkpath(mount);
    const double rate = static_cast<double>(imageMiB) * 1024 * 1024 / static_cast<double>(searchSeconds);
    QProcess disk;
    disk.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    disk.start(QStringLiteral(VELLORIN_STANDIN_FAILING_DISK),
               {card->image, mount, QStringLiteral("--rate"), QString::number(rate, 'f', 0)});
    const QString served = mount + QStringLiteral("/disk.img");
    for (int n = 0; n < 100 && !QFileInfo(served).isFile(); ++n)
        QThread::msleep(50);
    if (!QFileInfo(served).isFile()) {
        note(QStringLiteral("the slow disk stand-in did not come up"));
        return kCannotRun;
    }

    auto model = RecoveryViewModel::create(platform);
    ScanOptions options;
    options.namesFirst = false;
    model->setScanOptions(options);
    QElapsedTimer clock;
    std::vector<std::pair<double, RecoveryProgress>> seen;
    QObject::connect(model.get(), &RecoveryViewModel::progressChanged, model.get(), [&] {
        if (model->progress().phase == RecoveryProgress::Phase::Searching)
            seen.emplace_back(clock.nsecsElapsed() / 1e9, model->progress());
    });
    clock.start();
    const double took = runRecovery(*model, served, card->saveFolder(0, 0));
    runTool(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), mount});
    disk.terminate();
    disk.waitForFinished();

    Report report;
    report.require(model->statusMessage() == QStringLiteral("Recovery Completed!"),
                   QStringLiteral("the search ran to its end"));
    // The main pass ends when its share last moved; the little after it is the engine's summing up.
    double end = took;
    for (const auto& [at, progress] : seen)
        if (progress.share >= 0.999) {
            end = at;
            break;
        }
    const double passStart = seen.empty() ? 0 : seen.front().first;
    std::vector<double> errors, plainErrors;
    for (const auto& [at, progress] : seen) {
        if (progress.share < 0.25 || progress.share > 0.9 || !progress.secondsLeft)
            continue;
        const double truth = end - at;
        if (truth <= 0)
            continue;
        errors.push_back(std::abs(*progress.secondsLeft - truth) / truth * 100);
        const double plain = (at - passStart) * (1 - progress.share) / progress.share;
        plainErrors.push_back(std::abs(plain - truth) / truth * 100);
    }
    note(QStringLiteral(
             "%1 MiB served at %2 MB/s: search took %3 s, main pass ended at %4 s; %5 estimates from "
             "25% to 90%")
             .arg(imageMiB)
             .arg(rate / 1e6, 0, 'f', 2)
             .arg(took, 0, 'f', 1)
             .arg(end, 0, 'f', 1)
             .arg(errors.size()));
    report.require(errors.size() >= 5, QStringLiteral("a time left was shown from 25% to 90%"));
    report.atMost("time_left_median_error_pct", median(errors), median(plainErrors), 25);
    return report.exitCode();
}
