// How the recovered-files list scrolls when its pictures show thumbnails: twenty thousand
// camera pictures flung through from top to bottom in the real list and row delegate, with
// the pauses of someone looking, the thumbnails decoded as rows come near the screen. The
// figure is the longest wait between two turns of the event loop while scrolling (what a
// user feels as a stutter), against the 50 ms goal, beside the same scroll with thumbnails
// off; the cache's peak memory is shown against its limit. Exits 1 when a goal is missed.
//
// Usage: bench_ui_thumbnails [pictures]   (or VELLORIN_BENCH_FILES; headless unless
// QT_QPA_PLATFORM says otherwise)

#include "BenchSupport.h"

#include "ui/RecoveredFileRow.h"
#include "ui/RecoveredFilesModel.h"
#include "ui/ThumbnailCache.h"
#include "ui/ThumbnailPrefetch.h"
#include "workflow/FileKinds.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListView>
#include <QPainter>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <memory>

using namespace vellorin;
using vellorin::bench::note;
using vellorin::bench::TurnGaps;

namespace {

constexpr double kGapGoalMs = 50.0;
constexpr qint64 kCacheLimit = 8 << 20;
constexpr int kFrameMs = 16;
constexpr int kPagesPerFrame = 2; // a fling, well past what can be decoded on the way
constexpr int kLookEveryPages = 120;
constexpr int kLookMs = 400;
constexpr int kOriginals = 6;

// A 12-megapixel photograph as a camera card holds it: a few megabytes of JPEG with edges
// and texture, so that decoding costs what a real one does.
QByteArray cameraPicture(QRandomGenerator& random) {
    QImage image(4000, 3000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, image.height());
    sky.setColorAt(0, QColor::fromHsv(random.bounded(360), 120, 230));
    sky.setColorAt(1, QColor::fromHsv(random.bounded(360), 200, 90));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 3000; ++i) {
        painter.setBrush(QColor::fromHsv(random.bounded(360), random.bounded(256), random.bounded(256)));
        painter.drawEllipse(random.bounded(image.width()), random.bounded(image.height()),
                            8 + random.bounded(160), 8 + random.bounded(160));
    }
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

// The pictures as hard links to a few originals: every path is a file of its own to the
// cache, and the set-up writes a few megabytes instead of tens of gigabytes.
bool makePictures(const QString& root, int count, QStandardItemModel& model) {
    QRandomGenerator random(20240611);
    QStringList originals;
    for (int i = 0; i < kOriginals; ++i) {
        originals.append(root + QStringLiteral("/original_%1.jpg").arg(i));
        QFile file(originals.last());
        if (!file.open(QIODevice::WriteOnly) || file.write(cameraPicture(random)) <= 0)
            return false;
    }
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("IMG_%1.JPG").arg(i, 5, 10, QLatin1Char('0'));
        const QString path = root + QLatin1Char('/') + name;
        if (::link(QFile::encodeName(originals[i % kOriginals]).constData(),
                   QFile::encodeName(path).constData()))
            return false;
        auto* item = new QStandardItem(name);
        item->setData(path, RecoveredFilesModel::PathRole);
        item->setData(QStringLiteral("3.1 MB"), RecoveredFilesModel::SizeTextRole);
        model.appendRow(item);
    }
    return true;
}

struct Scroll {
    double longestGapMs = 0;
    double seconds = 0;
    qint64 turns = 0;
};

// From the top to the bottom, a frame at a time, stopping now and then to look.
Scroll scrollThrough(QListView& view) {
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue(0);
    QCoreApplication::processEvents();
    TurnGaps gaps;
    QEventLoop loop;
    QTimer frames;
    frames.setInterval(kFrameMs);
    int pages = 0;
    int lookingFrames = 0;
    QObject::connect(&frames, &QTimer::timeout, &loop, [&] {
        if (lookingFrames > 0) {
            --lookingFrames;
            return;
        }
        if (bar->value() >= bar->maximum()) {
            loop.quit();
            return;
        }
        bar->setValue(std::min(bar->maximum(), bar->value() + kPagesPerFrame * bar->pageStep()));
        pages += kPagesPerFrame;
        if (pages % kLookEveryPages == 0)
            lookingFrames = kLookMs / kFrameMs;
    });
    QElapsedTimer clock;
    clock.start();
    gaps.start();
    frames.start();
    loop.exec();
    gaps.stop();
    return {gaps.longestMs(), clock.nsecsElapsed() / 1e9, gaps.turns()};
}

// Whether every picture on screen shows its thumbnail, waiting up to a few seconds for them.
bool screenFilled(QListView& view, ThumbnailCache& cache) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        bool filled = true;
        for (int y = 0; y < view.viewport()->height() && filled; y += 8) {
            const QModelIndex index = view.indexAt(QPoint(1, y));
            if (index.isValid()) {
                const std::optional<QImage> thumbnail =
                    cache.thumbnail(index.data(RecoveredFilesModel::PathRole).toString());
                filled = thumbnail && !thumbnail->isNull();
            }
        }
        if (filled)
            return true;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    vellorin::bench::startAsTheApplication();
    QApplication app(argc, argv);
    const int count =
        static_cast<int>(vellorin::bench::sizeArgument(argc, argv, 1, "VELLORIN_BENCH_FILES", 20'000));

    QTemporaryDir scratch(QDir(QStringLiteral("/dev/shm")).exists()
                              ? QStringLiteral("/dev/shm/bench-thumbnails-XXXXXX")
                              : QString());
    QStandardItemModel model;
    QElapsedTimer making;
    making.start();
    if (!scratch.isValid() || !makePictures(scratch.path(), count, model)) {
        std::fprintf(stderr, "cannot set up the pictures in %s\n", qPrintable(scratch.path()));
        return vellorin::bench::kCannotRun;
    }
    note(QStringLiteral("%1 pictures linked to %2 JPEGs of 4000x3000 in %3 s")
             .arg(count)
             .arg(kOriginals)
             .arg(making.elapsed() / 1000.0, 0, 'f', 1));

    // The list as the window has it.
    QListView view;
    auto* row = new RecoveredFileRow(&view);
    view.setModel(&model);
    view.setItemDelegate(row);
    view.setUniformItemSizes(true);
    view.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(640, 720);
    view.show();
    QElapsedTimer exposing;
    exposing.start();
    while (!view.isVisible() && exposing.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();

    const Scroll plain = scrollThrough(view);
    note(QStringLiteral("without thumbnails: %1 s, %2 turns of the event loop, longest gap %3 ms")
             .arg(plain.seconds, 0, 'f', 1)
             .arg(plain.turns)
             .arg(plain.longestGapMs, 0, 'f', 1));

    // As the panel wires it: thumbnails asked for by the painting and a page of rows around
    // the screen, the list repainted as they arrive.
    ThumbnailCache cache(row->thumbnailSide(), view.devicePixelRatioF(), kCacheLimit);
    qint64 decoded = 0;
    QObject::connect(&cache, &ThumbnailCache::thumbnailReady, view.viewport(), [&] {
        ++decoded;
        view.viewport()->update();
    });
    const int pageOfRows = std::max(1, view.viewport()->height() / std::max(1, view.sizeHintForRow(0)));
    QObject::connect(view.verticalScrollBar(), &QScrollBar::valueChanged, &view,
                     [&] { prefetchThumbnails(view, cache, pageOfRows); });
    row->setThumbnails(&cache);
    const Scroll withThumbnails = scrollThrough(view);
    const bool filled = screenFilled(view, cache);
    note(QStringLiteral("with thumbnails: %1 s, %2 turns of the event loop, longest gap %3 ms; %4 of %5 "
                        "pictures decoded on the way")
             .arg(withThumbnails.seconds, 0, 'f', 1)
             .arg(withThumbnails.turns)
             .arg(withThumbnails.longestGapMs, 0, 'f', 1)
             .arg(decoded)
             .arg(count));

    vellorin::bench::Report report;
    report.atMost("ui_thumbnails_scroll_longest_gap_ms", withThumbnails.longestGapMs, plain.longestGapMs,
                  kGapGoalMs);
    report.info("ui_thumbnails_cache_peak_mib", cache.peakCostInBytes() / double(1 << 20),
                cache.byteLimit() / double(1 << 20));
    report.require(filled,
                   QStringLiteral("every picture on screen shows its thumbnail once the scroll stops"));
    report.require(cache.peakCostInBytes() <= cache.byteLimit(),
                   QStringLiteral("the cache stayed within its limit"));
    return report.exitCode();
}
