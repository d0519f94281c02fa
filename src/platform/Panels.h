#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vellorin {

struct PanelRequest {
    QString title;
    QString startFolder;
    bool canCreateFolders = false;
    // For a file panel: "Disk images (*.img *.dd)", "All files (*)"; the first is shown first.
    QStringList nameFilters;
};

// Folder and file choosers. The panel is not modal; the answer (the chosen folder, or none when the
// user cancelled) arrives later in the completion, on the main thread.
class Panels {
  public:
    virtual ~Panels() = default;
    virtual void chooseFolder(const PanelRequest& request,
                              std::function<void(std::optional<QString>)> completion) = 0;
    // An existing file to open.
    virtual void chooseFile(const PanelRequest& request,
                            std::function<void(std::optional<QString>)> completion) = 0;
};

} // namespace vellorin
