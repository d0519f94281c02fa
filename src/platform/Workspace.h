#pragma once

#include <QString>

namespace vellorin {

// The desktop's file manager.
class Workspace {
  public:
    virtual ~Workspace() = default;
    virtual void openFolder(const QString& path) = 0;
    // Shows the file selected in its folder.
    virtual void revealFile(const QString& path) = 0;
};

} // namespace vellorin
