#pragma once

#include <QByteArray>
#include <QString>

namespace vellorin {

// What tells one source from another when a search is picked up later: the SHA-256 of its
// first megabyte, read from the open descriptor (or, without one, from path). Empty when it
// cannot be read.
QByteArray sourceIdentity(int descriptor, const QString& path);
// Its size in bytes, the same ways; 0 when it cannot be told.
qint64 sourceSize(int descriptor, const QString& path);

} // namespace vellorin
