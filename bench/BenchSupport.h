#pragma once

// What every benchmark shares: a view model on the real services with answers in place of
// the windows a person would answer, a way to run it to its end, reference commands timed
// the same way, and one result format that bench/run gathers into a table.

#include "BenchReport.h"

#include "platform/Alerts.h"
#include "platform/Allocator.h"
#include "platform/Platform.h"
#include "platform/QtQueues.h"
#include "platform/Resources.h"
#include "workflow/ViewController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace vellorin::bench {

// Answers every alert with its last button, so the completion alert is "View Later", and
// keeps the titles (main thread only) so a run can check that it was asked.
class AnsweringAlerts final : public Alerts {
  public:
    int runModal(const QString& title, const QString&, const QStringList& buttons) override {
        titles.append(title);
        return static_cast<int>(buttons.size()) - 1;
    }
    QStringList titles;
};

class FixedResources final : public Resources {
  public:
    explicit FixedResources(std::optional<QString> folder) : folder_(std::move(folder)) {}
    std::optional<QString> resourceFolder() override { return folder_; }

  private:
    std::optional<QString> folder_;
};

// The production services, with the alerts answered and the resource folder chosen by the
// benchmark: none runs the simplified recovery, the build's share/vellorin the deep one.
// Before the QApplication: the process set up as main() sets up the application (its
// allocator setting), headless unless QT_QPA_PLATFORM says otherwise.
inline void startAsTheApplication() {
    freeSmallBlocksEagerly();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

inline Platform benchPlatform(std::optional<QString> resourceFolder) {
    Platform p = Platform::system();
    p.alerts = std::make_shared<AnsweringAlerts>();
    p.resources = std::make_shared<FixedResources>(std::move(resourceFolder));
    return p;
}

// Starts a recovery and turns the event loop until it has ended; returns the wall time in
// seconds from the start to the end.
inline double runRecovery(RecoveryViewModel& model, const QString& source, const QString& save) {
    QEventLoop loop;
    bool started = false;
    const auto connection = QObject::connect(&model, &RecoveryViewModel::isRecoveringChanged, &loop, [&] {
        if (model.isRecovering())
            started = true;
        else if (started)
            loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    model.startRecovery(source, save);
    loop.exec();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    QObject::disconnect(connection);
    return seconds;
}

// Runs a command to its end, its output discarded; returns the wall time in seconds, or a
// negative value when it failed.
inline double timeCommand(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return -1;
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

inline bool runCommand(const QString& program, const QStringList& arguments) {
    return timeCommand(program, arguments) >= 0;
}

// Flushes what earlier runs wrote, so that no run pays for another's write-back.
inline void settleDisk() {
    runCommand(QStringLiteral("sync"), {});
}

inline long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Scale of a run: VELLORIN_BENCH_SCALE=0.1 makes a quick smoke run of every benchmark.
inline double scale() {
    const char* text = std::getenv("VELLORIN_BENCH_SCALE");
    const double value = text ? std::atof(text) : 1.0;
    return value > 0 ? value : 1.0;
}

inline int scaled(int count) {
    return std::max(1, static_cast<int>(count * scale()));
}

} // namespace vellorin::bench
