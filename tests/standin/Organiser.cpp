// Runs the results organiser on a recovery folder, as the window would, so that a suite can
// kill it at any moment: vellorin-standin-organiser FOLDER [--undo | --settle]. Exit 0 when
// the work ended, 1 when it failed.

#include "platform/PosixFileSystem.h"
#include "workflow/ResultsOrganiser.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: vellorin-standin-organiser FOLDER [--undo | --settle]\n");
        return 2;
    }
    vellorin::PosixFileSystem fileSystem;
    vellorin::ResultsOrganiser organiser(fileSystem, arguments.at(0));
    const QString mode = arguments.value(1);
    const auto summary = mode == QLatin1String("--undo")     ? organiser.undo()
                         : mode == QLatin1String("--settle") ? organiser.settle()
                                                             : organiser.sort();
    std::printf("%s\n", qPrintable(mode == QLatin1String("--undo")
                                       ? vellorin::ResultsOrganiser::undoneLine(summary)
                                       : vellorin::ResultsOrganiser::sortedLine(summary)));
    return summary.error ? 1 : 0;
}
