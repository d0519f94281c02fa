#pragma once

#include "workflow/ScanOptions.h"

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace vellorin {

// What a recovered file is, told by its ending: one of the scan options' families, or Other.
// The list's kind filters, its Kind order and the sorting into folders all read this one table.
enum class FileKind { Pictures, Videos, Audio, Documents, Archives, Other };

inline constexpr std::array<FileKind, 6> kAllFileKinds{FileKind::Pictures, FileKind::Videos,
                                                       FileKind::Audio,    FileKind::Documents,
                                                       FileKind::Archives, FileKind::Other};

// Case does not matter; a name without a known ending is Other.
FileKind kindOfName(QStringView name);
// "Pictures", "Videos", "Audio", "Documents", "Archives", "Other": the filters' labels and
// the folders files are sorted into.
QString kindName(FileKind kind);
std::optional<FileFamily> familyOfKind(FileKind kind);

} // namespace vellorin
