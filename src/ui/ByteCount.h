#pragma once

#include <QString>

#include <cstdint>

namespace vellorin {

// A file size as desktop file managers word it, in decimal units: "1 byte", "999 bytes",
// "2 KB", "1.5 MB", "1.23 GB".
QString formatByteCount(std::int64_t bytes);

} // namespace vellorin
