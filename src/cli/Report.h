#pragma once

#include "workflow/RecoveredFile.h"
#include "workflow/RecoveryProgress.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

namespace vellorin::cli {

// How a run ended, for the closing summary and the exit status.
struct Summary {
    enum class End { Recovered, NothingFound, Stopped, Failed, NotStarted, Refused };
    End end = End::Failed;
    int exitStatus = 1;
    qint64 recovered = 0;
    qint64 scanned = 0;
    QString recoveryDirectory;
    // Why it failed or was refused; empty otherwise.
    QString reason;
    // The sorting's own line, when the files were sorted.
    QString sorted;
};

// Everything the command line says. On a terminal: the log lines, with one progress line
// redrawn below them; elsewhere plain lines with no control codes; with --json one object per
// line on standard output. Errors and notices go to standard error.
class Report {
  public:
    enum class Style { Terminal, Plain, Json };
    Report(Style style, int out, int err);

    Style style() const { return style_; }

    void started(const QString& source, const QString& saveLocation, const QString& mode);
    // One line of the activity log, stamped, as the view model made it.
    void logLine(const QString& line);
    void progress(const RecoveryProgress& progress, qint64 filesFound);
    // The run is over: the progress line goes for good.
    void endProgress();
    void file(const RecoveredFile& file);
    // --json: a file told of was moved (sorted into a folder).
    void moved(const QString& from, const QString& to);
    // Something the run told the user (an alert); title first.
    void notice(const QString& title, const QString& message);
    // What went wrong, on standard error, prefixed with the program's name.
    void error(const QString& message);
    void finished(const Summary& summary);

    // What a terminal may be shown of text from the disks: no control characters (which could
    // move the cursor, retitle the window or worse), every other character kept.
    static QString printable(const QString& text);
    // The terminal's width in columns, or 80.
    static int columns(int fd);

  private:
    void writeOut(const QByteArray& bytes);
    void writeErr(const QByteArray& bytes);
    void emitJson(const QJsonObject& object);
    void clearProgressLine();
    void redrawProgressLine();

    Style style_;
    int out_;
    int err_;
    QString progressLine_; // Terminal: what the last line shows, without control codes
    bool progressShown_ = false;
    QElapsedTimer sinceDrawn_;
    bool finished_ = false;
};

} // namespace vellorin::cli
