#pragma once

#include <QByteArray>

namespace vellorin {

// Keeps a character that one read of the engine's pipe cut in two whole: the first bytes of
// a multi-byte UTF-8 sequence at the end of a chunk (at most three) are held back and put in
// front of the next one. One per engine run, used on its reader thread only.
class Utf8ChunkJoiner {
  public:
    // The bytes that end on a character boundary: what was held back, then the chunk, less a
    // cut character at its end. Empty when the chunk held only the start of one character.
    QByteArray take(const QByteArray& chunk);
    const QByteArray& pending() const { return pending_; }

  private:
    QByteArray pending_;
};

} // namespace vellorin
