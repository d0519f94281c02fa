#include "cli/Report.h"

#include <QJsonDocument>

#include <cerrno>

#include <sys/ioctl.h>
#include <unistd.h>

namespace vellorin::cli {

namespace {

void writeAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // a closed pipe: nobody is reading any more
        data += written;
        left -= written;
    }
}

QString endName(Summary::End end) {
    switch (end) {
    case Summary::End::Recovered:
        return QStringLiteral("recovered");
    case Summary::End::NothingFound:
        return QStringLiteral("nothing-found");
    case Summary::End::Stopped:
        return QStringLiteral("stopped");
    case Summary::End::Failed:
        return QStringLiteral("failed");
    case Summary::End::NotStarted:
        return QStringLiteral("not-started");
    case Summary::End::Refused:
        return QStringLiteral("refused");
    }
    return {};
}

QString phaseName(RecoveryProgress::Phase phase) {
    switch (phase) {
    case RecoveryProgress::Phase::Unknown:
        return QStringLiteral("unknown");
    case RecoveryProgress::Phase::Preparing:
        return QStringLiteral("preparing");
    case RecoveryProgress::Phase::Searching:
        return QStringLiteral("searching");
    case RecoveryProgress::Phase::Copying:
        return QStringLiteral("copying");
    }
    return {};
}

} // namespace

Report::Report(Style style, int out, int err) : style_(style), out_(out), err_(err) {}

QString Report::printable(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\t')
            shown.append(u' ');
        else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u <= 0x9f))
            shown.append(QChar(0xfffd));
        else
            shown.append(c);
    }
    return shown;
}

int Report::columns(int fd) {
    struct winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

void Report::writeOut(const QByteArray& bytes) {
    writeAll(out_, bytes);
}

void Report::writeErr(const QByteArray& bytes) {
    writeAll(err_, bytes);
}

void Report::emitJson(const QJsonObject& object) {
    writeOut(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

void Report::clearProgressLine() {
    if (style_ == Style::Terminal && progressShown_) {
        writeOut(QByteArrayLiteral("\r\x1b[2K"));
        progressShown_ = false;
    }
}

void Report::redrawProgressLine() {
    if (style_ != Style::Terminal || progressLine_.isEmpty())
        return;
    // One column short of the width: a line that fills it would wrap, and \r would then
    // return to the wrong row.
    const int width = std::max(columns(out_) - 1, 10);
    QString line = progressLine_;
    if (line.size() > width)
        line = line.left(width - 1) + QChar(0x2026);
    writeOut(QByteArrayLiteral("\r\x1b[2K") + line.toUtf8());
    progressShown_ = true;
}

void Report::started(const QString& source, const QString& saveLocation, const QString& mode) {
    if (style_ == Style::Json)
        emitJson({{QStringLiteral("event"), QStringLiteral("started")},
                  {QStringLiteral("source"), source},
                  {QStringLiteral("saveLocation"), saveLocation},
                  {QStringLiteral("mode"), mode}});
}

void Report::logLine(const QString& line) {
    if (finished_)
        return; // the summary was the last word
    QString text = line;
    while (text.endsWith(u'\n'))
        text.chop(1);
    if (style_ == Style::Json) {
        emitJson({{QStringLiteral("event"), QStringLiteral("log")}, {QStringLiteral("line"), text}});
        return;
    }
    clearProgressLine();
    QByteArray bytes;
    for (const QString& part : text.split(u'\n'))
        bytes += printable(part).toUtf8() + '\n';
    writeOut(bytes);
    redrawProgressLine();
}

void Report::progress(const RecoveryProgress& progress, qint64 filesFound) {
    if (style_ == Style::Json) {
        QJsonObject object{{QStringLiteral("event"), QStringLiteral("progress")},
                           {QStringLiteral("phase"), phaseName(progress.phase)},
                           {QStringLiteral("files"), filesFound}};
        if (progress.phase == RecoveryProgress::Phase::Searching)
            object.insert(QStringLiteral("share"), progress.share);
        if (progress.bytesPerSecond)
            object.insert(QStringLiteral("bytesPerSecond"), *progress.bytesPerSecond);
        if (progress.secondsLeft && !progress.stalled)
            object.insert(QStringLiteral("secondsLeft"), *progress.secondsLeft);
        if (progress.stalled)
            object.insert(QStringLiteral("stalled"), true);
        if (progress.phase == RecoveryProgress::Phase::Preparing ||
            progress.phase == RecoveryProgress::Phase::Copying)
            object.insert(QStringLiteral("bytes"), progress.bytes);
        object.insert(QStringLiteral("text"), progress.summary());
        emitJson(object);
        return;
    }
    if (style_ != Style::Terminal)
        return; // the log says the progress every few seconds
    if (progressLine_.isEmpty() && sinceDrawn_.isValid())
        return; // the run has ended
    const QString found =
        filesFound == 1 ? QStringLiteral("1 file found") : QStringLiteral("%1 files found").arg(filesFound);
    const QString measured = progress.phase == RecoveryProgress::Phase::Unknown
                                 ? QStringLiteral("Working...")
                                 : printable(progress.summary());
    progressLine_ = measured + QStringLiteral(" \u00b7 ") + found;
    // A copy counts every file; the eye needs no more than ten frames a second.
    if (sinceDrawn_.isValid() && sinceDrawn_.elapsed() < 100)
        return;
    sinceDrawn_.start();
    redrawProgressLine();
}

void Report::endProgress() {
    progressLine_.clear();
    clearProgressLine();
}

void Report::file(const RecoveredFile& file) {
    if (style_ == Style::Json)
        emitJson({{QStringLiteral("event"), QStringLiteral("file")},
                  {QStringLiteral("path"), file.path()},
                  {QStringLiteral("size"), static_cast<double>(file.size())}});
}

void Report::moved(const QString& from, const QString& to) {
    if (style_ == Style::Json)
        emitJson({{QStringLiteral("event"), QStringLiteral("moved")},
                  {QStringLiteral("from"), from},
                  {QStringLiteral("to"), to}});
}

void Report::notice(const QString& title, const QString& message) {
    clearProgressLine();
    QString text = printable(title) + QStringLiteral(": ");
    text += printable(QString(message).replace(u'\n', u' '));
    writeErr(text.toUtf8() + '\n');
    redrawProgressLine();
}

void Report::error(const QString& message) {
    clearProgressLine();
    writeErr(QByteArrayLiteral("vellorin-recover: ") + printable(message).toUtf8() + '\n');
    redrawProgressLine();
}

void Report::finished(const Summary& summary) {
    finished_ = true;
    if (style_ == Style::Json) {
        QJsonObject object{{QStringLiteral("event"), QStringLiteral("finished")},
                           {QStringLiteral("end"), endName(summary.end)},
                           {QStringLiteral("exitStatus"), summary.exitStatus},
                           {QStringLiteral("recovered"), summary.recovered},
                           {QStringLiteral("scanned"), summary.scanned}};
        if (!summary.recoveryDirectory.isEmpty())
            object.insert(QStringLiteral("recoveryDirectory"), summary.recoveryDirectory);
        if (!summary.reason.isEmpty())
            object.insert(QStringLiteral("reason"), summary.reason);
        if (!summary.sorted.isEmpty())
            object.insert(QStringLiteral("sorted"), summary.sorted);
        emitJson(object);
        if (!summary.reason.isEmpty())
            error(summary.reason);
        return;
    }
    endProgress();
    const QString files =
        summary.recovered == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(summary.recovered);
    QString line;
    switch (summary.end) {
    case Summary::End::Recovered:
        line = QStringLiteral("Recovered %1 into %2.").arg(files, summary.recoveryDirectory);
        break;
    case Summary::End::NothingFound:
        line = QStringLiteral("Finished: no files were found.");
        break;
    case Summary::End::Stopped:
        line =
            QStringLiteral("Stopped: the %1 found so far are in %2.").arg(files, summary.recoveryDirectory);
        break;
    case Summary::End::Failed:
    case Summary::End::NotStarted:
    case Summary::End::Refused:
        break;
    }
    if (!line.isEmpty()) {
        if (!summary.sorted.isEmpty())
            line += u' ' + summary.sorted;
        writeOut(printable(line).toUtf8() + '\n');
    }
    if (!summary.reason.isEmpty())
        error(summary.reason);
}

} // namespace vellorin::cli
