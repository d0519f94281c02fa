#include "platform/FastDigest.h"

#include <xxhash.h>

namespace vellorin {

struct FastDigest::State {
    XXH3_state_t* state = XXH3_createState();
    ~State() { XXH3_freeState(state); }
};

FastDigest::FastDigest() : state_(std::make_unique<State>()) {
    XXH3_128bits_reset(state_->state);
}

FastDigest::~FastDigest() = default;

void FastDigest::add(const void* data, std::size_t size) {
    XXH3_128bits_update(state_->state, data, size);
}

QByteArray FastDigest::result() const {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state_->state));
    return QByteArray(reinterpret_cast<const char*>(canonical.digest), sizeof canonical.digest);
}

} // namespace vellorin
