#include "support/DiskImages.h"

#include "support/Fakes.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>

namespace vellorin::test {

bool runTool(const QString& program, const QStringList& arguments, QByteArray* output) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    // mkfs and mount live in sbin, which a plain user's PATH may lack.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"PATH"_s, env.value(u"PATH"_s) + u":/usr/sbin:/sbin"_s);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    const QByteArray printed = process.readAll();
    if (output)
        *output = printed;
    if (!ok)
        qWarning().noquote() << program << arguments.join(u' ') << "failed:" << process.errorString()
                             << printed;
    return ok;
}

QStringList makePictures(const QString& folder, int count) {
    QStringList paths;
    for (int n = 0; n < count; ++n) {
        // A smooth picture of its own with some grain, so that every file differs and the
        // compressed sizes land at a few tens of KiB.
        QRandomGenerator random(1000 + n);
        const bool jpeg = n % 2 == 0;
        QImage image(jpeg ? 260 : 150, jpeg ? 190 : 120, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixelColor(x, y,
                                    QColor::fromHsv((n * 47 + x / 3 + y / 5) % 360, 160 + (x * y) % 80,
                                                    120 + random.bounded(48)));
        paths.append(folder + u"/picture%1.%2"_s.arg(n).arg(jpeg ? u"jpg"_s : u"png"_s));
        if (!image.save(paths.last(), jpeg ? "JPEG" : "PNG", jpeg ? 92 : -1))
            return {};
    }
    return paths;
}

QByteArray sha256Of(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result().toHex() : QByteArray();
}

QStringList visibleFileHashes(const QString& root) {
    QStringList hashes;
    for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        hashes.append(QString::fromLatin1(sha256Of(it.next())));
    hashes.sort();
    return hashes;
}

bool makeFatImage(const QString& image, qint64 bytes, const QStringList& files, const QStringList& deleted) {
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(bytes) || !runTool(u"mkfs.vfat"_s, {image}))
        return false;
    if (!files.isEmpty() && !runTool(u"mcopy"_s, QStringList{u"-i"_s, image} + files + QStringList{u"::"_s}))
        return false;
    for (const QString& name : deleted)
        if (!runTool(u"mdel"_s, {u"-i"_s, image, u"::"_s + name}))
            return false;
    return true;
}

} // namespace vellorin::test
