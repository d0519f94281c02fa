// Sorting a deep search's output into folders, duplicates found, against reading the same
// files once (cat to /dev/null) in the same run, both with the files in the page cache.
// Goal: the sorting takes at most 1.3 times the reading.
//
// Usage: bench_results_sorting [files]   (VELLORIN_BENCH_FILES; 20,000 files of about 60 KB)

#include "BenchReport.h"
#include "BenchSupport.h"

#include "platform/PosixFileSystem.h"
#include "workflow/ResultsOrganiser.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace vellorin;
using namespace vellorin::bench;

namespace {

constexpr double kGoalRatio = 1.3;

// An EXIF block holding only a capture date, as a camera's APP1 segment would: enough for
// the organiser to read, written by hand so that the benchmark needs no Exiv2 of its own.
QByteArray exifSegment(const QByteArray& date) {
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    auto u16 = [&](quint16 v) { tiff.append(char(v & 0xff)).append(char(v >> 8)); };
    auto u32 = [&](quint32 v) { u16(quint16(v & 0xffff)), u16(quint16(v >> 16)); };
    u16(1); // IFD0: one entry, the pointer to the EXIF IFD at 26
    u16(0x8769), u16(4), u32(1), u32(26), u32(0);
    u16(1); // the EXIF IFD: DateTimeOriginal, 20 bytes at 44
    u16(0x9003), u16(2), u32(20), u32(44), u32(0);
    tiff.append(date.left(19)).append('\0');
    QByteArray segment("\xff\xe1", 2);
    const int length = 2 + 6 + static_cast<int>(tiff.size());
    segment.append(char(length >> 8)).append(char(length & 0xff)).append("Exif\0\0", 6).append(tiff);
    return segment;
}

QByteArray noiseJpeg(int seed, int side) {
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator random(static_cast<quint32>(seed));
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.setPixel(x, y, random.generate() | 0xff000000u);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return bytes;
}

// What a search of a camera card leaves: mostly pictures with dates, some without, films,
// documents, and one file in ten carved twice.
QStringList makeOutput(const QString& dir, int files) {
    QList<QByteArray> pictures;
    for (int i = 0; i < 64; ++i)
        pictures.append(noiseJpeg(i, 300 + i % 8));
    QStringList written;
    QRandomGenerator random(20261208);
    QByteArray previous;
    for (int i = 0; i < files; ++i) {
        const QString folder = dir + QStringLiteral("/recup_dir.%1/").arg(1 + i / 500);
        if (i % 500 == 0)
            QDir().mkpath(folder);
        QByteArray content;
        QString ending;
        if (i % 10 == 9 && !previous.isEmpty()) {
            content = previous;
            ending = QStringLiteral(".jpg");
        } else if (i % 10 < 7) {
            QByteArray jpeg = pictures.at(i % pictures.size());
            if (i % 7 != 0) {
                const QByteArray date = QStringLiteral("20%1:0%2:1%3 12:%4:%5")
                                            .arg(10 + i % 14)
                                            .arg(1 + i % 9)
                                            .arg(i % 10)
                                            .arg(10 + i % 50)
                                            .arg(10 + (i / 50) % 50)
                                            .toLatin1();
                jpeg.insert(2, exifSegment(date));
            }
            // Each picture its own bytes after its end, as carved files often have.
            jpeg.append(QByteArray::number(i).repeated(8));
            content = jpeg;
            previous = content;
            ending = QStringLiteral(".jpg");
        } else {
            content = QByteArray(40000 + static_cast<int>(random.bounded(60000)), '\0');
            random.fillRange(reinterpret_cast<quint32*>(content.data()), content.size() / 4);
            ending = i % 10 == 7 ? QStringLiteral(".mp4") : QStringLiteral(".pdf");
        }
        const QString path = folder + QStringLiteral("f%1").arg(1000 + i * 128, 8, 10, QChar(u'0')) + ending;
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
            return {};
        written.append(path);
    }
    return written;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long files = sizeArgument(argc, argv, 1, "VELLORIN_BENCH_FILES", scaled(20000));
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/vellorin-bench-sorting-XXXXXX"));
    const QString dir = scratch.filePath(QStringLiteral("recovered_files"));
    const QStringList written = makeOutput(dir, static_cast<int>(files));
    if (written.size() != files) {
        note(QStringLiteral("could not write the search's output"));
        return kCannotRun;
    }
    qint64 bytes = 0;
    for (const QString& path : written)
        bytes += QFileInfo(path).size();
    note(QStringLiteral("%1 files, %2 MB, in %3 engine folders")
             .arg(files)
             .arg(bytes / 1e6, 0, 'f', 0)
             .arg((files + 499) / 500));
    settleDisk();

    // The reference: every file read once, by one cat per engine folder, warm.
    QStringList folders;
    for (int n = 1; n <= (files + 499) / 500; ++n)
        folders.append(dir + QStringLiteral("/recup_dir.%1").arg(n));
    const QString catAll = QStringLiteral("for f in \"$@\"; do cat \"$f\"/* >/dev/null || exit 1; done");
    const QStringList catArguments =
        QStringList{QStringLiteral("-c"), catAll, QStringLiteral("cat")} + folders;
    timeCommand(QStringLiteral("/bin/bash"), catArguments); // warms the cache

    PosixFileSystem fileSystem;
    ResultsOrganiser organiser(fileSystem, dir);
    std::vector<double> reads, sorts;
    Report report;
    for (int round = 0; round < 3; ++round) {
        // Files in their engine folders again, each round; the undo is not measured.
        const double read = timeCommand(QStringLiteral("/bin/bash"), catArguments);
        QElapsedTimer timer;
        timer.start();
        const ResultsOrganiser::Summary summary = organiser.sort();
        const double sorted = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        report.require(!summary.error && summary.moves.size() == files,
                       QStringLiteral("every file was moved"));
        note(QStringLiteral("round %1: read %2 s, sorted %3 s: %4")
                 .arg(round + 1)
                 .arg(read, 0, 'f', 3)
                 .arg(sorted, 0, 'f', 3)
                 .arg(ResultsOrganiser::sortedLine(summary)));
        reads.push_back(read);
        sorts.push_back(sorted);
        const ResultsOrganiser::Summary undone = organiser.undo();
        report.require(!undone.error && undone.moves.size() == files,
                       QStringLiteral("every file was put back"));
        timeCommand(QStringLiteral("/bin/bash"), catArguments);
    }
    report.ratio("sorting_into_folders_s", median(sorts), median(reads), kGoalRatio);
    return report.exitCode();
}
