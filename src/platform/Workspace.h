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
    // Opens the file in the application the desktop has for its kind. What could run as a
    // program (a script, an executable, a launcher) is shown in its folder instead: a
    // recovered file is anybody's bytes.
    virtual void openFile(const QString& path) = 0;
};

} // namespace vellorin
