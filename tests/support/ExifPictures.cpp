#include "support/ExifPictures.h"

#include <QImage>
#include <QRandomGenerator>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace vellorin::test {

bool writeJpeg(const QString& path, int seed, const QByteArray& captureDate, int side) {
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator random(static_cast<quint32>(seed) * 2654435761u + 1);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.setPixel(x, y, random.generate() | 0xff000000u);
    if (!image.save(path, "JPEG", 90))
        return false;
    if (captureDate.isEmpty())
        return true;
    try {
        auto file = Exiv2::ImageFactory::open(path.toStdString());
        file->readMetadata();
        Exiv2::ExifData exif = file->exifData();
        exif["Exif.Image.Make"] = "Vellorin Test Camera";
        exif["Exif.Photo.DateTimeOriginal"] = captureDate.toStdString();
        file->setExifData(exif);
        file->writeMetadata();
    } catch (const std::exception& error) {
        qWarning("Exiv2 could not write %s: %s", qPrintable(path), error.what());
        return false;
    }
    return true;
}

QString organiserProgram() {
    return QStringLiteral(VELLORIN_STANDIN_ORGANISER);
}

} // namespace vellorin::test

#pragma GCC diagnostic pop
