#pragma once

class QListView;

namespace vellorin {

class ThumbnailCache;

// Asks the cache for the thumbnails of the pictures in the rows on screen, then of `margin`
// rows below and above them, nearest first: the rows a scroll is about to show are decoded
// before they are painted, and nothing is decoded for rows a long way off. Call it whenever
// what the list shows changes (a scroll, a resize, rows added).
void prefetchThumbnails(const QListView& view, ThumbnailCache& cache, int margin);

} // namespace vellorin
