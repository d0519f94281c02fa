#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace vellorin {

struct PanelRequest {
    QString title;
    QString startFolder;
    bool canCreateFolders = false;
};

// Folder choosers. The panel is not modal; the answer (the chosen folder, or none when the
// user cancelled) arrives later in the completion, on the main thread.
class Panels {
  public:
    virtual ~Panels() = default;
    virtual void chooseFolder(const PanelRequest& request,
                              std::function<void(std::optional<QString>)> completion) = 0;
};

} // namespace vellorin
