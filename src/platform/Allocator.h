#pragma once

namespace vellorin {

// Makes the allocator return freed memory as it goes rather than in one sweep later.
//
// Workers hand the main thread hundreds of thousands of small objects (log lines, listed
// files, the tasks that carry them), and the main thread frees them. glibc parks small freed
// blocks in "fast bins" and merges them all at once the next time a large block is asked
// for: with a million parked blocks that sweep takes the main thread for 80-100 ms, in the
// middle of a paint or a scroll, and the window stutters. Without fast bins each block is
// merged when it is freed, a constant cost; the per-thread caches in front still serve the
// common small allocations. Call once, first thing in main().
void freeSmallBlocksEagerly();

} // namespace vellorin
