#pragma once

#include <memory>

namespace vellorin {

class Queues;
class FileSystem;
class Alerts;
class Workspace;
class Clock;
class Folders;
class Panels;
class Settings;
class Resources;
class EngineLauncher;
class DiskAccess;
class BlockDevices;
class RunningSearches;

// Every service the workflow uses to reach the system, handed to the view model when it
// is made. Tests replace any of them.
struct Platform {
    std::shared_ptr<Queues> queues;
    std::shared_ptr<FileSystem> fileSystem;
    std::shared_ptr<Alerts> alerts;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<Folders> folders;
    std::shared_ptr<Panels> panels;
    std::shared_ptr<Settings> settings;
    std::shared_ptr<Resources> resources;
    std::shared_ptr<EngineLauncher> engine;
    std::shared_ptr<DiskAccess> disks;
    std::shared_ptr<BlockDevices> blockDevices;
    std::shared_ptr<RunningSearches> searches;

    // The production services that need no desktop: every one but alerts, panels and the
    // workspace, which each view supplies (the window's in platform/desktop/). Needs a
    // QCoreApplication.
    static Platform system();
};

} // namespace vellorin
