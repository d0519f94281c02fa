#pragma once

#include <QString>

#include <array>
#include <string_view>

namespace vellorin {

// The endings the simplified recovery copies, tried in this order.
inline constexpr std::array<std::string_view, 49> recoverableExtensions{
    ".jpg",  ".jpeg", ".png",  ".gif", ".bmp",  ".tiff", ".tif", ".raw",  ".cr2",  ".nef",
    ".arw",  ".mp4",  ".avi",  ".mov", ".mkv",  ".wmv",  ".flv", ".webm", ".m4v",  ".mp3",
    ".wav",  ".flac", ".aac",  ".ogg", ".wma",  ".m4a",  ".pdf", ".doc",  ".docx", ".xls",
    ".xlsx", ".ppt",  ".pptx", ".txt", ".rtf",  ".zip",  ".rar", ".7z",   ".tar",  ".gz",
    ".psd",  ".ai",   ".eps",  ".svg", ".html", ".css",  ".js",  ".json", ".xml"};

// Whether a file of this name (the file system's bytes) is copied. With allFiles on, every
// name that does not begin with "."; otherwise names whose lower-cased form ends with one
// of the endings. Only the end of the whole name counts: "Backup.TAR.GZ" qualifies,
// "clip.mp4.part" does not.
bool isRecoverableName(std::string_view name, bool allFiles);

} // namespace vellorin
