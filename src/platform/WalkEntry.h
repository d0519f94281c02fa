#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace vellorin {

// One file met by a walk, valid only while the visitor handles it. Names and paths are the
// file system's own bytes: a name that is not valid UTF-8 still names the right file.
struct WalkEntry {
    int directoryFd = -1;          // the folder that holds the entry
    const char* name = nullptr;    // the entry's name in that folder
    std::string_view relativePath; // components below the walk's root, joined with '/'
    bool isSymlink = false;
};

// Identity of an item on disk.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

struct FileIdHash {
    std::size_t operator()(const FileId& id) const noexcept {
        return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.inode) * 1000003u ^
                                          static_cast<std::uint64_t>(id.device));
    }
};

// What the copy needs to know about an entry, read in one statx call.
struct EntryStat {
    std::int64_t size = 0;
    mode_t mode = 0;
    bool hasBirthTime = false;
    std::int64_t birthTimeMs = 0;
    struct timespec accessTime {};
    struct timespec modifyTime {};
};

} // namespace vellorin
