#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vellorin::test {

// Runs a program to its end with no input. True when it exited 0; otherwise its output is
// printed as a warning, so that a failed set-up step says why.
bool runTool(const QString& program, const QStringList& arguments, QByteArray* output = nullptr);

// count distinct, valid pictures of a few tens of KiB in folder, JPEG and PNG in turn
// ("pictureN.jpg", "pictureN.png"). Returns their paths; empty when a picture could not be
// written.
QStringList makePictures(const QString& folder, int count);

// The SHA-256 of a file's contents, in hex; empty when it cannot be read.
QByteArray sha256Of(const QString& path);

// The SHA-256 of every regular file below root whose path has no hidden component.
QStringList visibleFileHashes(const QString& root);

// A FAT image of the given size holding files (in its root folder), written with mtools
// without mounting it; the files whose names are in deleted are deleted again afterwards.
bool makeFatImage(const QString& image, qint64 bytes, const QStringList& files, const QStringList& deleted);

// A loop mount of an image file at a folder, undone when it goes out of scope.
class LoopMount {
  public:
    LoopMount(const QString& image, const QString& folder, const QString& options = {});
    ~LoopMount();
    LoopMount(const LoopMount&) = delete;
    LoopMount& operator=(const LoopMount&) = delete;

    bool mounted() const { return mounted_; }
    // What mount said when it refused.
    const QString& refusal() const { return refusal_; }
    // The block device behind the mount point, as findmnt names it.
    QString device() const;
    bool unmount();

  private:
    QString folder_;
    bool mounted_ = false;
    QString refusal_;
};

// An ext4 image of the given size holding files (in its root folder), made through a loop
// mount, with the files whose names are in deleted deleted again. Empty when done, else why
// it could not be made (mounting refused on this machine, for one).
QString makeExt4Image(const QString& image, qint64 bytes, const QStringList& files,
                      const QStringList& deleted);

} // namespace vellorin::test
