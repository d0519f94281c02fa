#pragma once

#include "platform/Panels.h"

namespace vellorin {

// Non-modal folder choosers: a QFileDialog in directory mode per request, deleted when closed.
class FileDialogPanels final : public Panels {
  public:
    void chooseFolder(const PanelRequest& request,
                      std::function<void(std::optional<QString>)> completion) override;
};

} // namespace vellorin
