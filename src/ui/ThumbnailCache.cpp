#include "ui/ThumbnailCache.h"

#include <QFileInfo>
#include <QImageReader>
#include <QMetaObject>
#include <QtMath>

#include <algorithm>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace vellorin {

namespace {

constexpr int kDecoders = 2;
// Enough for a 16-megapixel picture in a format that cannot be decoded at a smaller size;
// a JPEG of any size is decoded at an eighth of it or less, well within.
constexpr int kAllocationLimitMiB = 64;

// What an entry holds besides its pixels, so that failures count against the limit too.
qint64 entryCost(const QString& path, const QImage& image) {
    return image.sizeInBytes() + path.size() * qint64(sizeof(QChar)) + qint64(sizeof(QImage));
}

QImage decodeThumbnail(const QString& path, int pixels, qreal devicePixelRatio) {
    // A pipe or a device under a picture's name would hold a decoder forever.
    if (!QFileInfo(path).isFile())
        return {};
    QImageReader reader(path);
    // The ending is only what the file was named after; a carved file's may be wrong.
    reader.setDecideFormatFromContent(true);
    reader.setAllocationLimit(kAllocationLimitMiB);
    reader.setAutoTransform(true);
    const QSize whole = reader.size();
    if (whole.width() > pixels || whole.height() > pixels)
        reader.setScaledSize(whole.scaled(pixels, pixels, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    // A header that understated the size, or a reader that ignored the scaled size.
    if (image.width() > pixels || image.height() > pixels)
        image = image.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    image = std::move(image).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

} // namespace

struct ThumbnailCache::Shared {
    Shared(ThumbnailCache* cache, int pixels, qreal devicePixelRatio)
        : pixels(pixels), devicePixelRatio(devicePixelRatio), owner(cache) {}

    const int pixels;
    const qreal devicePixelRatio;
    std::mutex mutex;
    std::deque<QString> pending; // the newest request first
    std::vector<std::pair<QString, QImage>> results;
    ThumbnailCache* owner; // null from the moment the cache starts going away
    int decoders = 0;
    bool resultsPosted = false;
};

ThumbnailCache::ThumbnailCache(int side, qreal devicePixelRatio, qint64 byteLimit, QObject* parent)
    : QObject(parent), byteLimit_(byteLimit), images_(byteLimit),
      shared_(std::make_shared<Shared>(this, qMax(1, qCeil(side * devicePixelRatio)), devicePixelRatio)) {
    pool_.setMaxThreadCount(kDecoders);
}

ThumbnailCache::~ThumbnailCache() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->owner = nullptr;
        shared_->pending.clear();
    }
    pool_.waitForDone();
}

std::optional<QImage> ThumbnailCache::thumbnail(const QString& path) {
    if (const QImage* image = images_.object(path))
        return *image;
    if (path.isEmpty())
        return QImage();
    request(path);
    startDecoders();
    return std::nullopt;
}

void ThumbnailCache::prefetch(const QStringList& paths) {
    // Backwards, so that the first path ends up at the head of the queue.
    for (auto it = paths.crbegin(); it != paths.crend(); ++it)
        if (!it->isEmpty() && !images_.contains(*it))
            request(*it);
    startDecoders();
}

qint64 ThumbnailCache::costInBytes() const {
    return images_.totalCost();
}

void ThumbnailCache::request(const QString& path) {
    std::lock_guard lock(shared_->mutex);
    std::deque<QString>& pending = shared_->pending;
    if (requested_.contains(path)) {
        // Asked for again, it is on screen again: ahead of the rows that scrolled by since.
        // (Not waiting at all, a decoder has it already.)
        const auto it = std::find(pending.begin(), pending.end(), path);
        if (it != pending.end() && it != pending.begin()) {
            pending.erase(it);
            pending.push_front(path);
        }
        return;
    }
    requested_.insert(path);
    pending.push_front(path);
    while (pending.size() > kMaxPending) {
        requested_.remove(pending.back());
        pending.pop_back();
    }
}

void ThumbnailCache::startDecoders() {
    int starting = 0;
    {
        std::lock_guard lock(shared_->mutex);
        const int wanted = std::min<int>(kDecoders, static_cast<int>(shared_->pending.size()));
        starting = std::max(0, wanted - shared_->decoders);
        shared_->decoders += starting;
    }
    for (int i = 0; i < starting; ++i) {
        pool_.start([shared = shared_] {
            std::unique_lock lock(shared->mutex);
            while (shared->owner && !shared->pending.empty()) {
                QString path = std::move(shared->pending.front());
                shared->pending.pop_front();
                lock.unlock();
                QImage image = decodeThumbnail(path, shared->pixels, shared->devicePixelRatio);
                lock.lock();
                if (!shared->owner)
                    break;
                shared->results.emplace_back(std::move(path), std::move(image));
                if (!shared->resultsPosted) {
                    shared->resultsPosted = true;
                    // Under the lock, so the cache cannot be destroyed in between; an event
                    // still queued when it is, goes with it.
                    QMetaObject::invokeMethod(shared->owner, &ThumbnailCache::takeResults,
                                              Qt::QueuedConnection);
                }
            }
            --shared->decoders;
        });
    }
}

void ThumbnailCache::takeResults() {
    std::vector<std::pair<QString, QImage>> results;
    {
        std::lock_guard lock(shared_->mutex);
        results.swap(shared_->results);
        shared_->resultsPosted = false;
    }
    for (auto& [path, image] : results) {
        requested_.remove(path);
        store(path, image);
        emit thumbnailReady(path);
    }
}

void ThumbnailCache::store(const QString& path, const QImage& image) {
    qint64 cost = entryCost(path, image);
    // A thumbnail bigger than the whole cache would be decoded again at every paint of its
    // row; showing the icon instead is the lesser evil.
    QImage kept = cost <= byteLimit_ ? image : QImage();
    cost = entryCost(path, kept);
    images_.insert(path, new QImage(std::move(kept)), cost);
    peakCost_ = std::max(peakCost_, costInBytes());
}

} // namespace vellorin
