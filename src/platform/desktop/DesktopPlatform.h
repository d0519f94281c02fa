#pragma once

#include "platform/Platform.h"

namespace vellorin {

// The window's services: the system's, with dialogs for alerts and panels and the desktop's
// file manager. Needs a QApplication.
Platform desktopPlatform();

} // namespace vellorin
