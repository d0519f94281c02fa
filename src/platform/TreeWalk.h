#pragma once

#include "platform/FileSystem.h"

#include <string>
#include <variant>

namespace vellorin {

// The walk behind FileSystem::walk, on file descriptors: each folder is opened relative to
// its parent, so depth is not bounded by the length of a path.
std::optional<Error> walkTree(const std::string& root, const WalkOptions& options, WalkVisitor& visitor);

// statx of one entry, of a link itself unless followLink; the birth time when the file
// system keeps one.
std::variant<EntryStat, Error> statAt(int directoryFd, const char* name, bool followLink = false);

// Whether a mounted device belongs to a kernel pseudo file system (proc, sysfs, devtmpfs, ...).
class PseudoFileSystems {
  public:
    PseudoFileSystems(); // reads the mount table once
    bool contains(dev_t device, int openFolderFd) const;

  private:
    std::vector<dev_t> devices_;
};

} // namespace vellorin
