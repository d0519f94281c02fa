#pragma once

#include <QByteArray>
#include <QString>

namespace vellorin::test {

// A JPEG of its own pixels (seeded by seed, so two seeds never give the same bytes), with
// the given EXIF capture date ("2023:02:13 18:46:14") written by Exiv2, or none when empty.
bool writeJpeg(const QString& path, int seed, const QByteArray& captureDate = {}, int side = 96);

// The organiser on its own, as a program a suite may kill.
QString organiserProgram();

} // namespace vellorin::test
