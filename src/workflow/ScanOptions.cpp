#include "workflow/ScanOptions.h"

#include <array>
#include <utility>

namespace vellorin {

namespace {

struct FamilyFormats {
    FileFamily family;
    const char* key;
    // Names as the engine's "fileopt" command takes them; each was tried against PhotoRec 7.1,
    // which logs "Syntax error in command line" for a name it does not know.
    std::initializer_list<const char*> formats;
};

// "tif" also carves the raw formats built on TIFF (CR2, NEF, ARW, DNG); "txt" carves text
// documents of every ending (RTF, HTML, CSV); "asf" is WMV and WMA; "mov" holds MP4, M4A,
// 3GP, HEIC and CR3.
const std::array<FamilyFormats, 5> kTable{{
    {FileFamily::Pictures,
     "pictures",
     {"jpg", "png", "gif", "bmp", "tif", "crw", "raf", "orf", "rw2", "mrw", "x3f", "psd", "ico", "pcx",
      "riff", "mov"}},
    {FileFamily::Videos,
     "videos",
     {"mov", "mkv", "riff", "mpg", "asf", "flv", "ogg", "m2ts", "rm", "swf", "dv"}},
    {FileFamily::Audio,
     "audio",
     {"mp3", "flac", "ogg", "riff", "asf", "mov", "mid", "aif", "amr", "ape", "wv", "au", "ra", "caf"}},
    {FileFamily::Documents, "documents", {"doc", "pdf", "zip", "txt", "ps", "xml", "djv", "wpd"}},
    {FileFamily::Archives,
     "archives",
     {"zip", "rar", "7z", "gz", "bz2", "xz", "tar", "cab", "lzh", "arj", "xar", "iso"}},
}};

const FamilyFormats* entryOf(FileFamily family) {
    for (const FamilyFormats& entry : kTable)
        if (entry.family == family)
            return &entry;
    return nullptr;
}

void addOnce(QStringList& list, const char* name) {
    const QString value = QString::fromLatin1(name);
    if (!list.contains(value))
        list.append(value);
}

} // namespace

QStringList ScanOptions::engineFormatsOf(FileFamily family) {
    QStringList formats;
    if (const FamilyFormats* entry = entryOf(family))
        for (const char* name : entry->formats)
            addOnce(formats, name);
    return formats;
}

QStringList ScanOptions::allEngineFormats() {
    QStringList formats;
    for (const FamilyFormats& entry : kTable)
        for (const char* name : entry.formats)
            addOnce(formats, name);
    return formats;
}

QStringList ScanOptions::engineFormats() const {
    QStringList formats;
    for (const FamilyFormats& entry : kTable)
        if (families.contains(entry.family))
            for (const char* name : entry.formats)
                addOnce(formats, name);
    return formats;
}

QStringList ScanOptions::scriptArguments() const {
    QStringList arguments;
    if (!families.isEmpty())
        arguments.append(QStringLiteral("--formats=") + engineFormats().join(QLatin1Char(',')));
    if (freeSpaceOnly)
        arguments.append(QStringLiteral("--free-space"));
    return arguments;
}

QString ScanOptions::familiesKey() const {
    QStringList keys;
    for (const FamilyFormats& entry : kTable)
        if (families.contains(entry.family))
            keys.append(QString::fromLatin1(entry.key));
    return keys.join(QLatin1Char(','));
}

QList<FileFamily> ScanOptions::familiesFromKey(const QString& key) {
    QList<FileFamily> result;
    const QStringList keys = key.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const FamilyFormats& entry : kTable)
        if (keys.contains(QString::fromLatin1(entry.key)))
            result.append(entry.family);
    return result;
}

} // namespace vellorin
