#pragma once

#include "platform/Error.h"
#include "platform/WalkEntry.h"

#include <string>

namespace vellorin {

// Copies walked entries into a mirrored tree below one destination folder, for one run.
class TreeCopier {
  public:
    struct Result {
        enum class Kind { Copied, FolderFailed, CopyFailed };
        Kind kind = Kind::CopyFailed;
        std::string destination; // the absolute path the copy got
        Error error;
    };

    virtual ~TreeCopier() = default;
    virtual Result copy(const WalkEntry& entry, const EntryStat& stat) = 0;
};

} // namespace vellorin
