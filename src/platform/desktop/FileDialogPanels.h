#pragma once

#include "platform/Panels.h"

namespace vellorin {

// Non-modal folder and file choosers: a QFileDialog per request, deleted when closed.
class FileDialogPanels final : public Panels {
  public:
    void chooseFolder(const PanelRequest& request,
                      std::function<void(std::optional<QString>)> completion) override;
    void chooseFile(const PanelRequest& request,
                    std::function<void(std::optional<QString>)> completion) override;
};

} // namespace vellorin
