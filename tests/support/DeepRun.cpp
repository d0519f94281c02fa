#include "support/DeepRun.h"

#include "workflow/ViewController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace vellorin::test {

QString makeResourceFolder(const QString& parent, const QByteArray& script, bool withScript,
                           bool withEngine) {
    const QString folder = parent + QStringLiteral("/share/vellorin");
    QDir().mkpath(folder);
    if (withScript) {
        QFile file(folder + QStringLiteral("/photorec_auto.sh"));
        if (file.open(QIODevice::WriteOnly))
            file.write(script);
    }
    if (withEngine) {
        QFile file(folder + QStringLiteral("/photorec"));
        if (file.open(QIODevice::WriteOnly))
            file.write("#!/bin/sh\nexit 99\n");
    }
    return folder;
}

RecoveryWatcher::RecoveryWatcher(RecoveryViewModel& model) {
    QObject::connect(&model, &RecoveryViewModel::isRecoveringChanged, &model, [this, &model] {
        if (model.isRecovering())
            started_ = true;
        else if (started_)
            ended_ = true;
    });
}

bool RecoveryWatcher::waitForEnd(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!ended_ && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    if (ended_)
        spin(150);
    return ended_;
}

void spin(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

} // namespace vellorin::test
