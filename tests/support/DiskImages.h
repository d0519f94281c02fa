#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;

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

// A FAT image of bytes holding files first and then, in one more file, filler bytes of noise:
// a card with data to search beyond its first files.
bool makeFilledFatImage(const QString& image, qint64 bytes, const QStringList& files, qint64 filler);

// A FAT image of bytes whose files lie spread over all of it: between each two, a file of
// zeros, so that a search comes upon them evenly from its start to its end.
bool makeSpreadFatImage(const QString& image, qint64 bytes, const QStringList& files);

// A zip archive holding one file, stored uncompressed; no zip program is needed.
bool makeZip(const QString& path, const QString& name, const QByteArray& data);

// Where this user's source views are mounted now, to find the one a run added.
QStringList sourceViews();

// A disk with bad places: vellorin-standin-failing-disk serving image as file() until this
// ends. arguments are the stand-in's options, such as {"--bad", "16777216"} for a disk that
// fails from 16 MiB on.
class FailingDisk {
  public:
    FailingDisk(const QString& image, const QString& mountPoint, const QStringList& arguments);
    ~FailingDisk();
    FailingDisk(const FailingDisk&) = delete;
    FailingDisk& operator=(const FailingDisk&) = delete;

    // False when it did not come up; a warning said why.
    bool serving() const { return serving_; }
    QString file() const { return mountPoint_ + QStringLiteral("/disk.img"); }

  private:
    std::unique_ptr<QProcess> process_;
    QString mountPoint_;
    bool serving_ = false;
};

} // namespace vellorin::test
