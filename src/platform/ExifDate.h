#pragma once

#include <QByteArray>
#include <QDateTime>

#include <optional>

namespace vellorin {

// When a picture was taken, as its own metadata says (EXIF's original date, else the
// digitised one), read with Exiv2 from the picture's first bytes held in memory. The bytes
// come from recovered media: anything malformed is no date, never an error that escapes.
class ExifDate {
  public:
    static std::optional<QDateTime> read(const QByteArray& head);
    // How much of a picture read() needs: JPEG keeps its EXIF in the first 64 KiB; TIFF-based
    // raw formats keep theirs near the start.
    static constexpr qint64 kHeadBytes = 512 * 1024;
    // "2023:02:13 18:46:14", the EXIF form; nothing else passes.
    static std::optional<QDateTime> parse(const QByteArray& text);
};

} // namespace vellorin
