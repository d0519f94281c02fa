#pragma once

#include <QByteArray>

#include <cstddef>
#include <memory>

namespace vellorin {

// XXH3's 128-bit digest, fed piece by piece: fast enough to find equal files among tens of
// thousands, and only ever a hint that two files are the same, never proof.
class FastDigest {
  public:
    FastDigest();
    ~FastDigest();
    FastDigest(const FastDigest&) = delete;
    FastDigest& operator=(const FastDigest&) = delete;

    void add(const void* data, std::size_t size);
    // 16 bytes, most significant first.
    QByteArray result() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vellorin
