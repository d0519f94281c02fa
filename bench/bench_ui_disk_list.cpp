// How long the disk chooser takes from opening to a filled list, against the 50 ms goal,
// beside the time of the "lsblk --json" it runs, run bare in the same way.
//
// Usage: bench_ui_disk_list [rounds]   (headless unless QT_QPA_PLATFORM says otherwise)

#include "BenchReport.h"

#include "platform/LsblkOutput.h"
#include "platform/Platform.h"
#include "platform/QtQueues.h"
#include "platform/SystemBlockDevices.h"
#include "ui/DiskPickerDialog.h"
#include "workflow/ViewController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <QTreeWidget>

using namespace vellorin;
using namespace vellorin::bench;

namespace {

constexpr double kGoalMs = 50.0;

double bareLsblkMs() {
    QElapsedTimer clock;
    clock.start();
    QProcess lsblk;
    lsblk.start(QStringLiteral("lsblk"), {QStringLiteral("--json"), QStringLiteral("--bytes"),
                                          QStringLiteral("-o"), QString::fromLatin1(kLsblkColumns)});
    lsblk.waitForFinished();
    return clock.nsecsElapsed() / 1e6;
}

// Opening the dialog as the button does, until its list is filled from the machine's disks.
double dialogMs(const std::shared_ptr<RecoveryViewModel>& model, int* rows) {
    DiskPickerDialog dialog(model);
    QEventLoop loop;
    QObject::connect(&dialog, &DiskPickerDialog::listed, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    dialog.open();
    loop.exec();
    const double elapsed = clock.nsecsElapsed() / 1e6;
    *rows = dialog.list()->topLevelItemCount();
    return elapsed;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int rounds = int(sizeArgument(argc, argv, 1, "VELLORIN_BENCH_ROUNDS", 30));
    Platform platform;
    platform.queues = std::make_shared<QtQueues>();
    platform.blockDevices = std::make_shared<SystemBlockDevices>();
    const auto model = RecoveryViewModel::create(platform);

    std::vector<double> bare, opened;
    int rows = 0;
    for (int round = 0; round < rounds; ++round) {
        bare.push_back(bareLsblkMs());
        opened.push_back(dialogMs(model, &rows));
    }
    note(QStringLiteral("%1 rounds, %2 disks listed").arg(rounds).arg(rows));
    Report report;
    report.require(rows > 0, QStringLiteral("the dialog listed no disk"));
    report.atMost("disk_list_open_to_filled_ms", median(opened), median(bare), kGoalMs);
    return report.exitCode();
}
