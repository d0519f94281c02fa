#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vellorin::test {

// Runs a program to its end; true when it exited 0, else its output is printed as a warning
// so that a failed set-up step says why.
bool runTool(const QString& program, const QStringList& arguments, QByteArray* output = nullptr);

// count distinct, valid pictures of a few tens of KiB in folder, JPEG and PNG in turn.
QStringList makePictures(const QString& folder, int count);

QByteArray sha256Of(const QString& path);
// The SHA-256 of every file below root with no hidden component in its path, sorted.
QStringList visibleFileHashes(const QString& root);

// A FAT image holding files in its root folder, written with mtools without mounting it; the
// ones named in deleted are deleted again afterwards.
bool makeFatImage(const QString& image, qint64 bytes, const QStringList& files,
                  const QStringList& deleted = {});

} // namespace vellorin::test
