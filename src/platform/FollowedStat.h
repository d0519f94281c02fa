#pragma once

#include "platform/Error.h"
#include "platform/WalkEntry.h"

#include <variant>

namespace vellorin {

// statx of what a walked symbolic link points to; an error for a dangling link.
std::variant<EntryStat, Error> statFollowingLink(const WalkEntry& entry);

} // namespace vellorin
