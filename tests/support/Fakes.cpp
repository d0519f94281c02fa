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
    // Workers and the main queue feed each other; settle when a round changes nothing.
    for (int round = 0; round < 6; ++round) {
        queues.waitForWorkers();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        // deleteLater() is not carried out by processEvents() at this loop level.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

} // namespace vellorin::test
