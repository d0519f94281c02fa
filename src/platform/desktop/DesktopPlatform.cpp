#include "platform/desktop/DesktopPlatform.h"

#include "platform/desktop/DesktopWorkspace.h"
#include "platform/desktop/FileDialogPanels.h"
#include "platform/desktop/MessageBoxAlerts.h"

namespace vellorin {

Platform desktopPlatform() {
    Platform p = Platform::system();
    p.alerts = std::make_shared<MessageBoxAlerts>();
    p.panels = std::make_shared<FileDialogPanels>();
    p.workspace = std::make_shared<DesktopWorkspace>();
    return p;
}

} // namespace vellorin
