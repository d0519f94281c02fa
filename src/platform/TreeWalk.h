#pragma once

#include "platform/FileSystem.h"

#include <functional>
#include <optional>
#include <string>
#include <variant>

#include <dirent.h>

namespace vellorin {

// The walk behind FileSystem::walk, on file descriptors: each folder is opened relative to
// its parent, so depth is not bounded by the length of a path.
std::optional<Error> walkTree(const std::string& root, const WalkOptions& options, WalkVisitor& visitor);

// Reads a folder's next entry: null at the end of the listing, or with errno set when the
// listing broke off. readdir itself, or a stand-in that fails on purpose.
using ReadDirectory = std::function<dirent*(DIR*)>;
std::optional<Error> walkTree(const std::string& root, const WalkOptions& options, WalkVisitor& visitor,
                              const ReadDirectory& readDirectory);

// statx of one entry, of a link itself unless followLink; the birth time when the file
// system keeps one.
std::variant<EntryStat, Error> statAt(int directoryFd, const char* name, bool followLink = false);

// The kind of a listed entry (DT_DIR, DT_REG, DT_LNK, or DT_FIFO for any other), read with
// fstatat, not through a link, where the file system does not tell it; none, with errno
// set, when that read fails.
std::optional<unsigned char> entryType(int folderFd, const dirent& item);

// Whether a mounted device belongs to a kernel pseudo file system (proc, sysfs, devtmpfs, ...).
class PseudoFileSystems {
  public:
    PseudoFileSystems(); // reads the mount table once
    bool contains(dev_t device, int openFolderFd) const;

  private:
    std::vector<dev_t> devices_;
};

} // namespace vellorin
