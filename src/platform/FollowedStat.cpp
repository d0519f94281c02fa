#include "platform/FollowedStat.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

namespace vellorin {

std::variant<EntryStat, Error> statFollowingLink(const WalkEntry& entry) {
    struct statx sx {};
    if (::statx(entry.directoryFd, entry.name, AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_BTIME,
                &sx) != 0)
        return Error::fromErrno(errno);
    EntryStat result;
    result.size = static_cast<std::int64_t>(sx.stx_size);
    result.mode = sx.stx_mode;
    if (sx.stx_mask & STATX_BTIME) {
        result.hasBirthTime = true;
        result.birthTimeMs = sx.stx_btime.tv_sec * 1000LL + sx.stx_btime.tv_nsec / 1'000'000;
    }
    return result;
}

} // namespace vellorin
