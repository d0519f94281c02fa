#pragma once

#include "platform/Workspace.h"

namespace vellorin {

// Opens folders with the desktop's default handler and reveals files through the
// freedesktop FileManager1 interface on the session bus.
class DesktopWorkspace final : public Workspace {
  public:
    void openFolder(const QString& path) override;
    void revealFile(const QString& path) override;
    void openFile(const QString& path) override;

    // Whether a file of this content type may be handed to its default application: never
    // one the desktop would run (scripts, executables, launchers, installers).
    static bool opensSafely(const QString& mimeType, const QStringList& parents);
};

} // namespace vellorin
