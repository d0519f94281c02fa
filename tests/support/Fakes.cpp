#include "support/Fakes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

namespace vellorin::test {

QStringList logMessages(const QString& logText) {
    static const QRegularExpression stamp(QStringLiteral("^\\[[^\\]]*\\] "));
    QStringList lines = logText.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines)
        line.remove(stamp);
    return lines;
}

void settle(QtQueues& queues) {
    // Workers and the main queue feed each other: settle once both are empty twice running,
    // with the event loop turned in between.
    int quiet = 0;
    while (quiet < 2) {
        queues.waitForWorkers();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // deleteLater() is not carried out by processEvents() at this loop level.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (queues.pendingMainTasks() == 0) {
            ++quiet;
            QThread::msleep(5);
        } else {
            quiet = 0;
        }
    }
}

} // namespace vellorin::test
