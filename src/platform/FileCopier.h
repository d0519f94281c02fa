#pragma once

#include "platform/TreeCopier.h"

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vellorin {

// The copier behind FileSystem::makeCopier.
//
// Each copy is written under a hidden temporary name and renamed into place once complete,
// with the source's permission bits and modification time, so an interrupted run never leaves
// a truncated file under a recovered name and a failed copy never destroys an earlier good
// one. Folders in the destination are made and entered without following links, so a link
// recovered earlier can never redirect a copy out of the destination.
class FileCopier final : public TreeCopier {
  public:
    explicit FileCopier(std::string destinationRoot);
    ~FileCopier();
    FileCopier(const FileCopier&) = delete;
    FileCopier& operator=(const FileCopier&) = delete;

    Result copy(const WalkEntry& entry, const EntryStat& stat) override;

    // Whether a name is one of the hidden names a copy is written under before its rename.
    static bool isTemporaryName(std::string_view name);

  private:
    std::string folderPath(std::string_view relativeFolder) const;
    int destinationFolder(std::string_view relativeFolder, int& err);
    std::string freeName(int folderFd, const std::string& name) const;
    int copyData(int in, int out);

    std::string root_;
    std::string cachedFolder_;
    int cachedFd_ = -1;
    FileId cachedId_;
    std::unordered_set<FileId, FileIdHash> written_;
    std::vector<char> buffer_;
};

} // namespace vellorin
