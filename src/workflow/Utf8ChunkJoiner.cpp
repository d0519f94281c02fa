#include "workflow/Utf8ChunkJoiner.h"

namespace vellorin {

namespace {

// The length of the sequence a byte starts; 1 for ASCII and for bytes that start none.
int sequenceLength(unsigned char byte) {
    if (byte >= 0xC2 && byte <= 0xDF)
        return 2;
    if (byte >= 0xE0 && byte <= 0xEF)
        return 3;
    if (byte >= 0xF0 && byte <= 0xF4)
        return 4;
    return 1;
}

} // namespace

QByteArray Utf8ChunkJoiner::take(const QByteArray& chunk) {
    QByteArray bytes = pending_.isEmpty() ? chunk : pending_ + chunk;
    pending_.clear();
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(bytes.at(size - back));
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: its sequence starts further back
        if (sequenceLength(byte) > back) {
            pending_ = bytes.right(back);
            bytes.chop(back);
        }
        break;
    }
    return bytes;
}

} // namespace vellorin
