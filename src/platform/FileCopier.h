#pragma once

#include "platform/Error.h"
#include "platform/WalkEntry.h"

#include <string>
#include <unordered_set>
#include <vector>

namespace vellorin {

// Copies walked entries into a mirrored tree below one destination folder.
//
// Each copy is written under a hidden temporary name and renamed into place once complete,
// with the source's permissions and modification time, so an interrupted run never leaves
// a truncated file under a recovered name and a failed copy never destroys an earlier good
// one. Folders in the destination are made and entered without following links, so a link
// recovered earlier can never redirect a copy out of the destination.
class FileCopier {
  public:
    explicit FileCopier(std::string destinationRoot);
    ~FileCopier();
    FileCopier(const FileCopier&) = delete;
    FileCopier& operator=(const FileCopier&) = delete;

    struct Result {
        enum class Kind { Copied, FolderFailed, CopyFailed };
        Kind kind = Kind::CopyFailed;
        std::string destination; // the absolute path the copy got
        Error error;
    };

    Result copy(const WalkEntry& entry, const EntryStat& stat);

  private:
    int destinationFolder(std::string_view relativeFolder, int& err);
    std::string freeName(int folderFd, const std::string& name) const;
    int copyData(int in, int out);

    std::string root_;
    std::string cachedFolder_;
    int cachedFd_ = -1;
    std::unordered_set<FileId, FileIdHash> written_;
    std::vector<char> buffer_;
};

} // namespace vellorin
