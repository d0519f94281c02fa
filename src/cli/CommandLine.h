#pragma once

#include "workflow/ScanOptions.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace vellorin::cli {

// What one invocation asks for.
struct Request {
    QString source;
    QString saveLocation;
    enum class Mode { Automatic, Deep, Copy };
    Mode mode = Mode::Automatic;
    bool allFiles = false;
    ScanOptions options;
    // An earlier search of this source into this place that did not run to its end.
    enum class Earlier { Ask, Resume, StartOver };
    Earlier earlier = Earlier::Ask;
    bool sortIntoFolders = false;
    bool json = false;
};

struct Parsed {
    enum class Action { Run, Help, Version, Usage };
    Action action = Action::Usage;
    Request request;
    // Usage: what is wrong, in one sentence.
    QString problem;
};

// The arguments after the program's name.
Parsed parseArguments(const QStringList& arguments);

QString helpText();
// The line after every usage error.
QString usageHint();

} // namespace vellorin::cli
