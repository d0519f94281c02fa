#include "platform/Allocator.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace vellorin {

void freeSmallBlocksEagerly() {
#if defined(M_MXFAST)
    // A size of 0 turns fast bins off for every arena, present and future.
    mallopt(M_MXFAST, 0);
#endif
}

} // namespace vellorin
