#include "platform/ExifDate.h"

// Exiv2 0.27 hands images out in std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <mutex>

namespace vellorin {

namespace {

void silenceLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
}

} // namespace

std::optional<QDateTime> ExifDate::parse(const QByteArray& text) {
    // Exactly "YYYY:MM:DD HH:MM:SS", digits where digits belong; cameras pad an unknown
    // date with blanks or zeros, which is no date.
    const QByteArray value = text.trimmed();
    if (value.size() != 19)
        return std::nullopt;
    static constexpr char kShape[] = "dddd:dd:dd dd:dd:dd";
    for (int i = 0; i < 19; ++i) {
        const char c = value.at(i);
        if (kShape[i] == 'd' ? (c < '0' || c > '9') : c != kShape[i])
            return std::nullopt;
    }
    auto number = [&](int from, int length) { return value.mid(from, length).toInt(); };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const QTime time(number(11, 2), number(14, 2), number(17, 2));
    if (!date.isValid() || !time.isValid() || date.year() < 1900 || date.year() > 2999)
        return std::nullopt;
    // The camera's own clock, whatever its zone: the date is kept as it reads.
    return QDateTime(date, time, Qt::UTC);
}

std::optional<QDateTime> ExifDate::read(const QByteArray& head) {
    if (head.isEmpty())
        return std::nullopt;
    silenceLibrary();
    try {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(head.constData()),
                                               static_cast<long>(head.size()));
        if (!image.get())
            return std::nullopt;
        try {
            image->readMetadata();
        } catch (const std::exception&) {
            // A picture cut short after its metadata (a head read, a partly carved file)
            // still has the EXIF block read before the error.
        }
        const Exiv2::ExifData& exif = image->exifData();
        for (const char* key : {"Exif.Photo.DateTimeOriginal", "Exif.Photo.DateTimeDigitized"}) {
            const auto found = exif.findKey(Exiv2::ExifKey(key));
            if (found == exif.end())
                continue;
            if (auto date = parse(QByteArray::fromStdString(found->toString())))
                return date;
        }
    } catch (const std::exception&) {
        // Exiv2's own errors, and what a broken picture makes of its allocations.
    }
    return std::nullopt;
}

} // namespace vellorin

#pragma GCC diagnostic pop
