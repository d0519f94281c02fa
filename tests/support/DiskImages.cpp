#include "support/DiskImages.h"

#include "support/Fakes.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <array>

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

bool makeFilledFatImage(const QString& image, qint64 bytes, const QStringList& files, qint64 filler) {
    QByteArray noise(filler, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    const QString path = image + u".filler"_s;
    QFile file(path);
    const bool made = file.open(QIODevice::WriteOnly) && file.write(noise) == noise.size();
    file.close();
    const bool filled = made && makeFatImage(image, bytes, files + QStringList{path});
    QFile::remove(path);
    return filled;
}

QStringList sourceViews() {
    QByteArray out;
    runTool(u"findmnt"_s,
            {u"-rn"_s, u"-t"_s, u"fuse.vellorin-source-view"_s, u"-O"_s, u"user_id=%1"_s.arg(::getuid()),
             u"-o"_s, u"TARGET"_s},
            &out);
    return QString::fromLocal8Bit(out).split(u'\n', Qt::SkipEmptyParts).filter(u"/vellorin-views-"_s);
}

bool makeSpreadFatImage(const QString& image, qint64 bytes, const QStringList& files) {
    // What the file system itself takes (its tables and the files' own bytes) is left free.
    qint64 taken = bytes / 16;
    for (const QString& file : files)
        taken += QFileInfo(file).size() + 32768;
    const qint64 gap = std::max<qint64>(0, (bytes - taken) / (files.size() + 1));
    QStringList ordered;
    QStringList fillers;
    for (qsizetype i = 0; i <= files.size(); ++i) {
        const QString filler = image + QStringLiteral(".gap%1").arg(i);
        QFile file(filler);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(gap))
            return false;
        fillers << filler;
        ordered << filler;
        if (i < files.size())
            ordered << files[i];
    }
    const bool made = makeFatImage(image, bytes, ordered);
    for (const QString& filler : fillers)
        QFile::remove(filler);
    return made;
}

namespace {

std::uint32_t crc32Of(const QByteArray& bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> made{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            made[n] = c;
        }
        return made;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : bytes)
        crc = table[(crc ^ static_cast<std::uint8_t>(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

} // namespace

bool makeZip(const QString& path, const QString& name, const QByteArray& data) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    const QByteArray encoded = name.toUtf8();
    const quint32 crc = crc32Of(data), size = quint32(data.size());
    const quint16 nameSize = quint16(encoded.size()), version = 10, none = 0, time = 0x6000, date = 0x5821;
    // The entry, stored, then the central directory and its end.
    out << quint32(0x04034b50) << version << none << none << time << date << crc << size << size << nameSize
        << none;
    out.writeRawData(encoded.constData(), encoded.size());
    out.writeRawData(data.constData(), data.size());
    const auto directoryAt = quint32(file.pos());
    out << quint32(0x02014b50) << version << version << none << none << time << date << crc << size << size
        << nameSize << none << none << none << none << quint32(0) << quint32(0);
    out.writeRawData(encoded.constData(), encoded.size());
    const auto directorySize = quint32(file.pos()) - directoryAt;
    out << quint32(0x06054b50) << none << none << quint16(1) << quint16(1) << directorySize << directoryAt
        << none;
    return out.status() == QDataStream::Ok;
}

FailingDisk::FailingDisk(const QString& image, const QString& mountPoint, const QStringList& arguments)
    : process_(std::make_unique<QProcess>()), mountPoint_(mountPoint) {
    QDir().mkpath(mountPoint);
    process_->setProcessChannelMode(QProcess::ForwardedChannels);
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->start(QStringLiteral(VELLORIN_STANDIN_FAILING_DISK),
                    QStringList{image, mountPoint} + arguments);
    for (int n = 0; n < 100 && process_->state() != QProcess::NotRunning; ++n, QThread::msleep(50))
        if (QFileInfo(file()).isFile()) {
            serving_ = true;
            return;
        }
    qWarning() << "the failing disk stand-in did not come up on" << mountPoint;
}

FailingDisk::~FailingDisk() {
    // Unmounted first, lazily: a view that still holds the file open must not keep it mounted.
    if (serving_)
        runTool(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), mountPoint_});
    process_->terminate();
    if (!process_->waitForFinished(5000)) {
        process_->kill();
        process_->waitForFinished();
    }
}

} // namespace vellorin::test
