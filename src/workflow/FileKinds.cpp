#include "workflow/FileKinds.h"

#include <string_view>
#include <unordered_map>

namespace vellorin {

namespace {

struct KindEndings {
    FileKind kind;
    std::initializer_list<const char*> endings;
};

// The endings the engine gives what it carves, and the usual ones of files restored under
// their own names. An ending of two families (Ogg, RIFF) goes where it is most often found.
const std::array<KindEndings, 5> kEndings{{
    {FileKind::Pictures,
     {"jpg", "jpeg", "jpe", "jfif", "png", "gif", "bmp", "tif", "tiff", "webp", "heic", "heif", "avif",
      "svg", "ico",  "pcx", "psd",  "xcf", "cr2", "cr3", "crw", "nef",  "nrw",  "arw",  "srf",  "sr2",
      "dng", "raf",  "orf", "rw2",  "mrw", "x3f", "pef", "erf", "kdc",  "dcr",  "3fr",  "jp2",  "tga"}},
    {FileKind::Videos,
     {"mov", "mp4", "m4v", "3gp",  "3g2", "mkv", "webm", "avi",  "mpg", "mpeg", "m2v", "vob", "wmv",
      "asf", "flv", "f4v", "m2ts", "mts", "ts",  "rm",   "rmvb", "swf", "dv",   "ogv", "mxf"}},
    {FileKind::Audio, {"mp3", "flac", "ogg", "oga", "opus", "wav", "wma", "m4a", "m4b", "aac", "mid", "midi",
                       "aif", "aiff", "amr", "ape", "wv",   "au",  "ra",  "caf", "mka", "ac3", "dts"}},
    {FileKind::Documents,
     {"pdf", "doc",  "docx", "dot",  "xls",  "xlsx",  "ppt",  "pptx",    "odt", "ods", "odp",
      "odg", "rtf",  "txt",  "md",   "csv",  "tsv",   "html", "htm",     "xml", "ps",  "eps",
      "djv", "djvu", "wpd",  "epub", "mobi", "pages", "key",  "numbers", "tex", "json"}},
    {FileKind::Archives,
     {"zip", "rar", "7z",  "gz",  "tgz", "bz2", "tbz2", "xz",   "txz", "zst", "lz",  "lzma",
      "tar", "cab", "lzh", "arj", "xar", "iso", "dmg",  "cpio", "deb", "rpm", "jar", "apk"}},
}};

constexpr qsizetype kLongestEnding = 8;

std::unordered_map<std::string_view, FileKind> makeLookup() {
    std::unordered_map<std::string_view, FileKind> lookup;
    for (const KindEndings& entry : kEndings)
        for (const char* ending : entry.endings)
            lookup.emplace(ending, entry.kind);
    return lookup;
}

} // namespace

FileKind kindOfName(QStringView name) {
    // Asked for every file a search lists, on the main thread: no allocation.
    static const std::unordered_map<std::string_view, FileKind> lookup = makeLookup();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // ".jpg" alone is a hidden file's name, not an ending; "x." has none.
    const qsizetype length = name.size() - dot - 1;
    if (dot <= 0 || length <= 0 || length > kLongestEnding)
        return FileKind::Other;
    char ending[kLongestEnding];
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t c = name.at(dot + 1 + i).unicode();
        if (c >= u'A' && c <= u'Z')
            ending[i] = static_cast<char>(c - u'A' + u'a');
        else if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))
            ending[i] = static_cast<char>(c);
        else
            return FileKind::Other; // every known ending is plain letters and digits
    }
    const auto found = lookup.find(std::string_view(ending, static_cast<std::size_t>(length)));
    return found == lookup.end() ? FileKind::Other : found->second;
}

QString kindName(FileKind kind) {
    switch (kind) {
    case FileKind::Pictures:
        return QStringLiteral("Pictures");
    case FileKind::Videos:
        return QStringLiteral("Videos");
    case FileKind::Audio:
        return QStringLiteral("Audio");
    case FileKind::Documents:
        return QStringLiteral("Documents");
    case FileKind::Archives:
        return QStringLiteral("Archives");
    case FileKind::Other:
        break;
    }
    return QStringLiteral("Other");
}

std::optional<FileFamily> familyOfKind(FileKind kind) {
    switch (kind) {
    case FileKind::Pictures:
        return FileFamily::Pictures;
    case FileKind::Videos:
        return FileFamily::Videos;
    case FileKind::Audio:
        return FileFamily::Audio;
    case FileKind::Documents:
        return FileFamily::Documents;
    case FileKind::Archives:
        return FileFamily::Archives;
    case FileKind::Other:
        break;
    }
    return std::nullopt;
}

} // namespace vellorin
