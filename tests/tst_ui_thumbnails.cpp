// Thumbnails in the recovered-files list: pictures shown small in place of the icon, decoded
// off the main thread at the size shown; whatever a file's name claims, what cannot be
// decoded keeps the icon; and a list scrolled from end to end keeps its thumbnails within
// their memory and the rows on screen filled.

#include "support/Fakes.h"

#include "ui/RecoveredFileRow.h"
#include "ui/RecoveredFilesModel.h"
#include "ui/ThumbnailCache.h"
#include "ui/ThumbnailPrefetch.h"
#include "workflow/FileKinds.h"

#include <QBuffer>
#include <QListView>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace vellorin;
using namespace vellorin::test;

namespace {

constexpr int kSide = RecoveredFileRow::kThumbnailSide;

QByteArray encoded(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// Red on the left, blue on the right: a thumbnail of it is told from a grey or garbled one.
QImage leftRedRightBlue(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, 0);
    gradient.setColorAt(0, Qt::red);
    gradient.setColorAt(1, Qt::blue);
    painter.fillRect(image.rect(), gradient);
    return image;
}

QImage filled(int width, int height, const QColor& color) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

bool near(QRgb pixel, const QColor& color, int tolerance = 24) {
    return qAbs(qRed(pixel) - color.red()) <= tolerance && qAbs(qGreen(pixel) - color.green()) <= tolerance &&
           qAbs(qBlue(pixel) - color.blue()) <= tolerance;
}

// Decoding a 24-megapixel picture under a sanitizer, on a machine busy building, takes its time.
constexpr int kDecodeTimeoutMs = 20000;

// Every thumbnail fits the side at the cache's pixel ratio, aspect kept within a pixel.
void verifyThumbnailOf(const std::optional<QImage>& thumbnail, QSize picture, qreal dpr) {
    QVERIFY(thumbnail && !thumbnail->isNull());
    const int pixels = qCeil(kSide * dpr);
    const QSize expected = picture.scaled(pixels, pixels, Qt::KeepAspectRatio);
    QVERIFY2(qAbs(thumbnail->width() - expected.width()) <= 1 &&
                 qAbs(thumbnail->height() - expected.height()) <= 1,
             qPrintable(u"%1x%2"_s.arg(thumbnail->width()).arg(thumbnail->height())));
    QVERIFY(thumbnail->width() <= pixels && thumbnail->height() <= pixels);
    QCOMPARE(thumbnail->devicePixelRatio(), dpr);
}

QStandardItem* fileItem(const QString& name, const QString& path) {
    auto* item = new QStandardItem(name);
    item->setData(path, RecoveredFilesModel::PathRole);
    item->setData(u"2 KB"_s, RecoveredFilesModel::SizeTextRole);
    return item;
}

// One row as the list paints it, onto a canvas of the given pixel ratio.
QImage paintRow(const RecoveredFileRow& row, const QModelIndex& index, qreal dpr) {
    QStyleOptionViewItem option;
    option.rect = QRect(QPoint(0, 0), QSize(360, row.sizeHint(option, index).height()));
    option.state = QStyle::State_Enabled;
    QImage canvas(option.rect.size() * dpr, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(dpr);
    canvas.fill(QColor(30, 30, 40));
    QPainter painter(&canvas);
    row.paint(&painter, option, index);
    return canvas;
}

// The smallest rectangle holding every pixel in which two paintings differ.
QRect difference(const QImage& one, const QImage& other) {
    QRect changed;
    for (int y = 0; y < one.height(); ++y)
        for (int x = 0; x < one.width(); ++x)
            if (one.pixel(x, y) != other.pixel(x, y))
                changed |= QRect(x, y, 1, 1);
    return changed;
}

QSet<QString> readyPaths(const QSignalSpy& spy) {
    QSet<QString> paths;
    for (const QList<QVariant>& signal : spy)
        paths.insert(signal.at(0).toString());
    return paths;
}

} // namespace

class ThumbnailsTest : public QObject {
    Q_OBJECT
    QTemporaryDir scratch;
    QByteArray photo; // a 24-megapixel JPEG

    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = scratch.filePath(name);
        writeFile(path, bytes);
        return path;
    }

  private slots:
    void initTestCase() {
        QVERIFY(scratch.isValid());
        photo = encoded(leftRedRightBlue(6000, 4000), "JPEG", 80);
        QVERIFY(photo.startsWith("\xFF\xD8"));
    }

    void picturesAreDecodedAtTheSizeShownWhateverTheirNames() {
        ThumbnailCache cache(kSide, 2.0, 4 << 20);
        QSignalSpy ready(&cache, &ThumbnailCache::thumbnailReady);
        // Whole, the photo would take 96 MB: more than the decoder may ever allocate for a
        // file off the disk, so only a decoding at the thumbnail's size gets a picture.
        const QString jpeg = file(u"IMG_0001.jpg"_s, photo);
        const QString png = file(u"Screenshot.png"_s, encoded(leftRedRightBlue(300, 100), "PNG"));
        // A carved file is named after what the engine took it for, which may be wrong.
        const QString misnamed = file(u"f0012345.jpg"_s, encoded(leftRedRightBlue(100, 300), "PNG"));

        QVERIFY(!cache.thumbnail(jpeg));
        for (const auto& [path, size] : {std::pair(jpeg, QSize(6000, 4000)), std::pair(png, QSize(300, 100)),
                                         std::pair(misnamed, QSize(100, 300))}) {
            // Asked for at every turn, as repaints of its row would.
            QTRY_VERIFY_WITH_TIMEOUT(cache.thumbnail(path), kDecodeTimeoutMs);
            const std::optional<QImage> thumbnail = cache.thumbnail(path);
            verifyThumbnailOf(thumbnail, size, 2.0);
            if (QTest::currentTestFailed())
                return;
            const int middle = thumbnail->height() / 2;
            QVERIFY(near(thumbnail->pixel(0, middle), Qt::red, 60));
            QVERIFY(near(thumbnail->pixel(thumbnail->width() - 1, middle), Qt::blue, 60));
        }
        // Asked for at every repaint while it was decoded, each was decoded once.
        QCOMPARE(ready.count(), 3);
        QCOMPARE(readyPaths(ready), (QSet<QString>{jpeg, png, misnamed}));
        QVERIFY(cache.costInBytes() > 0 && cache.costInBytes() <= cache.peakCostInBytes());
    }

    void whatCannotBeDecodedIsAnsweredOnceAndNotTriedAgain() {
        ThumbnailCache cache(kSide, 1.0, 4 << 20);
        QSignalSpy ready(&cache, &ThumbnailCache::thumbnailReady);
        const QString cut = file(u"cut.jpg"_s, photo.left(photo.size() / 3));
        const QString text =
            file(u"notes.jpg"_s, QByteArray("Not a picture at all, just text.\n").repeated(40));
        const QString empty = file(u"empty.png"_s, {});
        const QString folder = scratch.filePath(u"folder.jpg"_s);
        QVERIFY(QDir().mkpath(folder));
        // Opened, a pipe would hold a decoder until someone wrote to it: forever.
        const QString pipe = scratch.filePath(u"pipe.jpg"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        const QString gone = scratch.filePath(u"gone.jpg"_s);

        // A cut JPEG may decode to a partial picture; never to more than a thumbnail.
        QTRY_VERIFY_WITH_TIMEOUT(cache.thumbnail(cut), kDecodeTimeoutMs);
        const std::optional<QImage> partial = cache.thumbnail(cut);
        if (!partial->isNull())
            verifyThumbnailOf(partial, QSize(6000, 4000), 1.0);

        for (const QString& path : {text, empty, folder, pipe, gone}) {
            QTRY_VERIFY_WITH_TIMEOUT(cache.thumbnail(path), kDecodeTimeoutMs);
            QVERIFY2(cache.thumbnail(path)->isNull(), qPrintable(path));
        }
        QCOMPARE(ready.count(), 6);
        // The answer is kept: the next paint of the row asks for nothing.
        for (const QString& path : {text, empty, folder, pipe, gone})
            QVERIFY(cache.thumbnail(path) == QImage());
        QTest::qWait(50);
        QCOMPARE(ready.count(), 6);
    }

    void theRowShowsAThumbnailInTheIconsPlaceOnlyForADecodedPicture() {
        const qreal dpr = 2.0;
        RecoveredFileRow plain;
        RecoveredFileRow row;
        const int side = row.thumbnailSide();
        ThumbnailCache cache(side, dpr, 4 << 20);
        QSignalSpy ready(&cache, &ThumbnailCache::thumbnailReady);
        const QColor magenta(230, 0, 230);
        QStandardItemModel model;
        model.appendRow(
            fileItem(u"IMG_2041.jpg"_s, file(u"IMG_2041.jpg"_s, encoded(filled(300, 200, magenta), "JPEG"))));
        model.appendRow(
            fileItem(u"IMG_2042.jpg"_s, file(u"IMG_2042.jpg"_s, "GIF89a? no, only a bad header")));
        // A picture named as something else is not a picture to the list.
        model.appendRow(
            fileItem(u"report.txt"_s, file(u"report.txt"_s, encoded(filled(30, 20, magenta), "PNG"))));
        row.setThumbnails(&cache);
        const auto paint = [&](const RecoveredFileRow& delegate, int r) {
            return paintRow(delegate, model.index(r, 0), dpr);
        };

        // Until its thumbnail is decoded, a picture's row is the row it always was.
        QCOMPARE(paint(row, 0), paint(plain, 0));
        QCOMPARE(paint(row, 1), paint(plain, 1));
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 2, kDecodeTimeoutMs);

        const QImage withThumbnail = paint(row, 0);
        const QRect changed = difference(withThumbnail, paint(plain, 0));
        // In the icon's place, at the size it was decoded for: neither larger nor scaled
        // again from another size, so as wide as the thumbnail square for a landscape picture.
        QVERIFY2(changed.width() == side * dpr && changed.height() <= side * dpr,
                 qPrintable(u"%1x%2"_s.arg(changed.width()).arg(changed.height())));
        QVERIFY(near(withThumbnail.pixel(changed.center()), magenta));

        QCOMPARE(paint(row, 1), paint(plain, 1));
        QCOMPARE(paint(row, 2), paint(plain, 2));
        QTest::qWait(50);
        QCOMPARE(ready.count(), 2);
    }

    void onlyTheNewestRequestsAreDecoded() {
        ThumbnailCache cache(kSide, 1.0, 16 << 20);
        QSignalSpy ready(&cache, &ThumbnailCache::thumbnailReady);
        const QString picture = file(u"walk/picture.jpg"_s, encoded(leftRedRightBlue(1200, 800), "JPEG"));
        QStringList paths;
        for (int i = 0; i < 3 * ThumbnailCache::kMaxPending; ++i) {
            paths.append(scratch.filePath(u"walk/IMG_%1.jpg"_s.arg(i, 4, 10, QLatin1Char('0'))));
            QVERIFY(QFile::link(picture, paths.last()));
        }
        // The rows a long scroll passed on its way, the first the one it stopped at.
        cache.prefetch(paths);
        const QStringList newest = paths.first(ThumbnailCache::kMaxPending);
        const QSet<QString> wanted(newest.cbegin(), newest.cend());
        QTRY_VERIFY_WITH_TIMEOUT(readyPaths(ready).contains(wanted), 60000);
        QCOMPARE(ready.count(), ThumbnailCache::kMaxPending);
        // The row the scroll stopped at is shown first, not after all it passed.
        qsizetype arrival = 0;
        while (ready.at(arrival).at(0).toString() != paths.first())
            ++arrival;
        QVERIFY2(arrival < ThumbnailCache::kMaxPending / 4, qPrintable(QString::number(arrival)));

        // Dropped unseen, a row scrolled back to is asked for again.
        const QString passed = paths.last();
        QVERIFY(!cache.thumbnail(passed));
        QTRY_VERIFY_WITH_TIMEOUT(readyPaths(ready).contains(passed), kDecodeTimeoutMs);
        verifyThumbnailOf(cache.thumbnail(passed), QSize(1200, 800), 1.0);
    }

    void prefetchingAsksForThePicturesOnScreenAndNearOnly() {
        ThumbnailCache cache(kSide, 1.0, 16 << 20);
        QSignalSpy ready(&cache, &ThumbnailCache::thumbnailReady);
        const QByteArray picture = encoded(leftRedRightBlue(90, 60), "JPEG");
        QStandardItemModel model;
        for (int i = 0; i < 300; ++i) {
            // Every third a file whose content would decode, but whose name is not a picture's.
            const QString name = i % 3 ? u"IMG_%1.jpg"_s.arg(i) : u"notes_%1.txt"_s.arg(i);
            model.appendRow(fileItem(name, file(u"near/"_s + name, picture)));
        }
        // No thumbnails from the painting: what is asked for is the prefetch's doing.
        QListView view;
        view.setModel(&model);
        view.setItemDelegate(new RecoveredFileRow(&view));
        view.setUniformItemSizes(true);
        view.resize(360, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.scrollTo(model.index(150, 0), QAbstractItemView::PositionAtTop);
        QCoreApplication::processEvents();

        const int margin = 6;
        QList<int> onScreen;
        for (int r = 0; r < model.rowCount(); ++r)
            if (view.viewport()->rect().intersects(view.visualRect(model.index(r, 0))))
                onScreen.append(r);
        QVERIFY(onScreen.size() > 3 && onScreen.first() >= 150 - 1);
        QSet<QString> expected;
        for (int r = onScreen.first() - margin; r <= onScreen.last() + margin; ++r)
            if (r % 3)
                expected.insert(model.index(r, 0).data(RecoveredFilesModel::PathRole).toString());

        prefetchThumbnails(view, cache, margin);
        QTRY_COMPARE_WITH_TIMEOUT(readyPaths(ready), expected, kDecodeTimeoutMs);
        QTest::qWait(50);
        QCOMPARE(readyPaths(ready), expected);
        QCOMPARE(ready.count(), expected.size());
    }

    void scrollingFiveThousandPicturesStaysWithinTheByteLimit() {
        const QColor orange(255, 128, 0);
        const QByteArray picture = encoded(filled(120, 90, orange), "JPEG");
        const QByteArray notPicture = encoded(filled(120, 90, Qt::green), "PNG");
        QStandardItemModel model;
        QStringList paths;
        for (int i = 0; i < 5000; ++i) {
            const bool isPicture = i % 10 != 9;
            const QString name =
                (isPicture ? u"IMG_%1.jpg"_s : u"notes%1.txt"_s).arg(i, 5, 10, QLatin1Char('0'));
            paths.append(file(u"scroll/"_s + name, isPicture ? picture : notPicture));
            model.appendRow(fileItem(name, paths.last()));
        }

        // Room for about fifty rows' thumbnails: a few screens of this list, nowhere near all.
        qint64 perThumbnail = 0;
        {
            ThumbnailCache probe(kSide, 1.0, 1 << 20);
            QTRY_VERIFY_WITH_TIMEOUT(probe.thumbnail(paths.first()), kDecodeTimeoutMs);
            perThumbnail = probe.costInBytes();
        }
        ThumbnailCache cache(kSide, 1.0, 50 * perThumbnail);
        QSignalSpy ready(&cache, &ThumbnailCache::thumbnailReady);
        QListView view;
        auto* row = new RecoveredFileRow(&view);
        row->setThumbnails(&cache);
        view.setModel(&model);
        view.setItemDelegate(row);
        view.setUniformItemSizes(true);
        view.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        view.resize(360, 480);
        const int margin = 8;
        connect(&cache, &ThumbnailCache::thumbnailReady, view.viewport(), qOverload<>(&QWidget::update));
        connect(view.verticalScrollBar(), &QScrollBar::valueChanged, &view,
                [&] { prefetchThumbnails(view, cache, margin); });
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        QScrollBar* bar = view.verticalScrollBar();
        QVERIFY(bar->maximum() > 100 * bar->pageStep());
        int pages = 0;
        for (int value = 0; value < bar->maximum(); value += bar->pageStep()) {
            bar->setValue(value);
            QCoreApplication::processEvents();
            // Now and then a reader who stops to look, so that thumbnails come in throughout.
            if (++pages % 20 == 0) {
                const QModelIndex shown = view.indexAt(QPoint(1, view.viewport()->height() / 2));
                if (shown.row() % 10 != 9)
                    QTRY_VERIFY_WITH_TIMEOUT(
                        cache.thumbnail(shown.data(RecoveredFilesModel::PathRole).toString()),
                        kDecodeTimeoutMs);
            }
            QVERIFY(cache.costInBytes() <= cache.byteLimit());
        }
        bar->setValue(bar->maximum());

        // Every picture on screen shows its thumbnail: orange at the start of its row.
        const auto shown = [&] {
            const QImage screen = view.viewport()->grab().toImage();
            for (int y = 0; y < screen.height(); y += 4) {
                const QModelIndex index = view.indexAt(QPoint(1, y));
                const QRect rect = view.visualRect(index);
                if (!index.isValid() || index.row() % 10 == 9 || rect.top() < 0 ||
                    rect.bottom() >= screen.height())
                    continue;
                bool found = false;
                for (int x = 0; x < screen.width() / 3 && !found; ++x)
                    found = near(screen.pixel(x, rect.center().y()), orange, 12);
                if (!found)
                    return false;
            }
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(shown(), kDecodeTimeoutMs);

        // Far more was decoded than fits: the limit held by letting go of the oldest.
        QVERIFY(readyPaths(ready).size() > 100);
        QVERIFY(cache.peakCostInBytes() <= cache.byteLimit());
        QVERIFY(cache.peakCostInBytes() > cache.byteLimit() - 2 * perThumbnail);
        QVERIFY(!cache.thumbnail(paths.first()));
        for (const QString& path : readyPaths(ready))
            QVERIFY2(kindOfName(path) == FileKind::Pictures, qPrintable(path));
    }

    void resultsOutlivingTheCacheGoNowhere() {
        const QString picture = file(u"late/picture.jpg"_s, encoded(leftRedRightBlue(1200, 800), "JPEG"));
        QStringList paths;
        for (int i = 0; i < 40; ++i) {
            paths.append(scratch.filePath(u"late/IMG_%1.jpg"_s.arg(i)));
            QVERIFY(QFile::link(picture, paths.last()));
        }
        // Gone while decoding, with requests still waiting.
        auto cache = std::make_unique<ThumbnailCache>(kSide, 1.0, 1 << 20);
        cache->prefetch(paths);
        cache.reset();
        QCoreApplication::processEvents();

        // Gone with results decoded and on their way to it.
        cache = std::make_unique<ThumbnailCache>(kSide, 1.0, 1 << 20);
        bool delivered = false;
        connect(cache.get(), &ThumbnailCache::thumbnailReady, this, [&] { delivered = true; });
        cache->prefetch(paths.first(3));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cache.reset();
        QTest::qWait(50);
        QVERIFY(!delivered);
    }
};

QTEST_MAIN(ThumbnailsTest)
#include "tst_ui_thumbnails.moc"
