#include "cli/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace vellorin::cli {

namespace {

const QStringList kKindNames{QStringLiteral("pictures"), QStringLiteral("videos"), QStringLiteral("audio"),
                             QStringLiteral("documents"), QStringLiteral("archives")};

Parsed usage(const QString& problem) {
    Parsed parsed;
    parsed.action = Parsed::Action::Usage;
    parsed.problem = problem;
    return parsed;
}

} // namespace

Parsed parseArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version(QStringLiteral("version"), {});
    const QCommandLineOption deep(QStringLiteral("deep"), {});
    const QCommandLineOption copy(QStringLiteral("copy"), {});
    const QCommandLineOption allFiles(QStringLiteral("all-files"), {});
    const QCommandLineOption kinds(QStringLiteral("kinds"), {}, QStringLiteral("kinds"));
    const QCommandLineOption freeSpace(QStringLiteral("free-space"), {});
    const QCommandLineOption noNames(QStringLiteral("no-names"), {});
    const QCommandLineOption resume(QStringLiteral("resume"), {});
    const QCommandLineOption startOver(QStringLiteral("start-over"), {});
    const QCommandLineOption sort(QStringLiteral("sort-into-folders"), {});
    const QCommandLineOption json(QStringLiteral("json"), {});
    parser.addOptions(
        {help, version, deep, copy, allFiles, kinds, freeSpace, noNames, resume, startOver, sort, json});
    if (!parser.parse(QStringList{QStringLiteral("vellorin-recover")} + arguments))
        return usage(parser.errorText());

    Parsed parsed;
    if (parser.isSet(help)) {
        parsed.action = Parsed::Action::Help;
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.action = Parsed::Action::Version;
        return parsed;
    }
    const QStringList places = parser.positionalArguments();
    if (places.isEmpty())
        return usage(QStringLiteral("Missing the source and the save location."));
    if (places.size() == 1)
        return usage(QStringLiteral("Missing the save location."));
    if (places.size() > 2)
        return usage(QStringLiteral("One source and one save location, please; \"%1\" is one too many.")
                         .arg(places.at(2)));
    for (const QString& place : places)
        if (place.isEmpty())
            return usage(QStringLiteral("An empty path is neither a source nor a save location."));

    Request& request = parsed.request;
    request.source = places.at(0);
    request.saveLocation = places.at(1);
    if (parser.isSet(deep) && parser.isSet(copy))
        return usage(QStringLiteral("--deep and --copy exclude each other."));
    if (parser.isSet(resume) && parser.isSet(startOver))
        return usage(QStringLiteral("--resume and --start-over exclude each other."));
    request.mode = parser.isSet(deep)   ? Request::Mode::Deep
                   : parser.isSet(copy) ? Request::Mode::Copy
                                        : Request::Mode::Automatic;
    request.allFiles = parser.isSet(allFiles);
    const bool deepOptions = parser.isSet(kinds) || parser.isSet(freeSpace) || parser.isSet(noNames) ||
                             parser.isSet(resume) || parser.isSet(startOver) || parser.isSet(sort);
    if (request.mode == Request::Mode::Copy && deepOptions)
        return usage(QStringLiteral("--kinds, --free-space, --no-names, --resume, --start-over and "
                                    "--sort-into-folders belong to the deep search, not to --copy."));
    if (request.mode == Request::Mode::Deep && request.allFiles)
        return usage(QStringLiteral("--all-files belongs to the copy, not to --deep."));

    if (parser.isSet(kinds)) {
        QStringList wanted;
        for (const QString& value : parser.values(kinds))
            for (const QString& kind : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
                wanted.append(kind.trimmed().toLower());
        if (wanted.isEmpty())
            return usage(QStringLiteral("--kinds needs at least one of %1.").arg(kKindNames.join(u',')));
        for (const QString& kind : wanted)
            if (!kKindNames.contains(kind))
                return usage(QStringLiteral("Unknown kind \"%1\"; the kinds are %2.")
                                 .arg(kind, kKindNames.join(QStringLiteral(", "))));
        request.options.families = ScanOptions::familiesFromKey(wanted.join(u','));
    }
    request.options.freeSpaceOnly = parser.isSet(freeSpace);
    request.options.namesFirst = !parser.isSet(noNames);
    request.earlier = parser.isSet(resume)      ? Request::Earlier::Resume
                      : parser.isSet(startOver) ? Request::Earlier::StartOver
                                                : Request::Earlier::Ask;
    request.sortIntoFolders = parser.isSet(sort);
    request.json = parser.isSet(json);
    parsed.action = Parsed::Action::Run;
    return parsed;
}

QString usageHint() {
    return QStringLiteral("Try 'vellorin-recover --help' for more information.");
}

QString helpText() {
    return QStringLiteral(
        "Usage: vellorin-recover SOURCE SAVE_LOCATION [options]\n"
        "Recover lost or deleted files from SOURCE into SAVE_LOCATION/recovered_files.\n"
        "\n"
        "SOURCE is a folder, a disk or partition (/dev/sdb, /dev/sdb1) or a disk image file.\n"
        "SAVE_LOCATION is an existing folder on another disk.\n"
        "\n"
        "How:\n"
        "  --deep               search the raw data with PhotoRec (the default when PhotoRec is\n"
        "                       installed, and always for a disk or an image)\n"
        "  --copy               copy the source's files with known endings, keeping folders\n"
        "  --all-files          with the copy: every file that is not hidden\n"
        "\n"
        "Deep search:\n"
        "  --kinds LIST         carve only these kinds, comma-separated: pictures, videos,\n"
        "                       audio, documents, archives (deleted files the file system\n"
        "                       still names come back whatever their kind)\n"
        "  --free-space         only the file system's free space\n"
        "  --no-names           skip restoring deleted files with their names first\n"
        "  --resume             pick up an earlier search of SOURCE into SAVE_LOCATION that\n"
        "                       was interrupted\n"
        "  --start-over         search from the start instead (earlier files are kept)\n"
        "  --sort-into-folders  afterwards, sort the files into folders by kind and date\n"
        "\n"
        "Output:\n"
        "  --json               one JSON object per line on standard output\n"
        "  -h, --help           show this help\n"
        "  --version            show the version\n"
        "\n"
        "Exit status: 0 files recovered; 1 the run failed; 2 bad usage; 3 nothing found;\n"
        "130 stopped by Ctrl+C (the files found so far are kept).\n"
        "\n"
        "As root, the source is opened as root, and PhotoRec then runs and every file is\n"
        "made as the owner of SAVE_LOCATION.\n");
}

} // namespace vellorin::cli
