#pragma once

#include <QCache>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <memory>
#include <optional>

namespace vellorin {

// Small pictures of recovered files, decoded on two threads of the cache's own and kept,
// most recently used first, within a byte limit. The files come off a damaged or foreign
// disk, so a decoder is never trusted with more memory than a thumbnail's worth of work
// needs, and a file that fails is remembered as failed rather than tried again.
//
// Main thread only, apart from the decoding it starts.
class ThumbnailCache : public QObject {
    Q_OBJECT
  public:
    // Requests waiting for a decoder beyond this many are the ones asked for longest ago: the
    // rows they were for have scrolled away, and decoding them would only delay the rows now
    // on screen.
    static constexpr int kMaxPending = 96;

    // Thumbnails fit a square of `side` logical pixels (side * devicePixelRatio device
    // pixels), aspect kept. `byteLimit` should hold a few screens of them: rows on screen
    // whose thumbnails do not fit together are decoded again at every repaint.
    ThumbnailCache(int side, qreal devicePixelRatio, qint64 byteLimit, QObject* parent = nullptr);
    // Waits for at most the decodings already under way; those only waiting are dropped.
    ~ThumbnailCache() override;

    // A decoded thumbnail, or a null image for a file that is not a picture we can read;
    // nothing while it has yet to be decoded, in which case it is asked for ahead of any
    // other.
    std::optional<QImage> thumbnail(const QString& path);
    // Asks for the thumbnails not known yet, the first path soonest.
    void prefetch(const QStringList& paths);

    qint64 costInBytes() const;
    qint64 peakCostInBytes() const { return peakCost_; }
    qint64 byteLimit() const { return byteLimit_; }

    struct Shared; // the cache's side of the hand-over to its decoders and back, under one lock

  signals:
    void thumbnailReady(const QString& path);

  private:
    void request(const QString& path);
    void startDecoders();
    void takeResults();
    void store(const QString& path, const QImage& image);

    qint64 byteLimit_;
    qint64 peakCost_ = 0;
    QCache<QString, QImage> images_;
    QSet<QString> requested_; // waiting or being decoded
    std::shared_ptr<Shared> shared_;
    QThreadPool pool_;
};

} // namespace vellorin
