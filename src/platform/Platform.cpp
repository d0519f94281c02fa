#include "platform/Platform.h"

#include "platform/Clock.h"
#include "platform/ExecutableResources.h"
#include "platform/Folders.h"
#include "platform/LockedSearches.h"
#include "platform/PosixEngineLauncher.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtQueues.h"
#include "platform/SystemBlockDevices.h"
#include "platform/SystemDiskAccess.h"
#include "platform/UserSettings.h"

namespace vellorin {

Platform Platform::system() {
    Platform p;
    p.queues = std::make_shared<QtQueues>();
    p.fileSystem = std::make_shared<PosixFileSystem>();
    p.clock = std::make_shared<SystemClock>();
    p.folders = std::make_shared<StandardFolders>();
    p.settings = std::make_shared<UserSettings>();
    p.resources = std::make_shared<ExecutableResources>();
    p.engine = std::make_shared<PosixEngineLauncher>();
    p.disks = std::make_shared<SystemDiskAccess>();
    p.blockDevices = std::make_shared<SystemBlockDevices>();
    p.searches = std::make_shared<LockedSearches>();
    return p;
}

} // namespace vellorin
