#pragma once

#include "platform/Descriptor.h"

#include <QString>

#include <functional>
#include <optional>

namespace vellorin {

// Reaches the raw data behind a source for the engine without raising anyone's rights: the
// user's own open when it is allowed, else a read-only descriptor from the system's disk
// service, which asks the user through the desktop's prompt.
class DiskAccess {
  public:
    struct Opened {
        // Read-only, close-on-exec; not open when there is nothing to hand on (a folder on no
        // device, an image the user may not read): the engine script then says why itself.
        Descriptor descriptor;
        // The device or image behind the source, when there is one.
        QString device;
        // A plain sentence saying what is needed to read the device; the run cannot go on.
        std::optional<QString> problem;
    };

    // Handed-on descriptors live at or above this one: above the standard ones and the one
    // the engine script expects.
    static constexpr int kFirstDescriptor = 10;

    virtual ~DiskAccess() = default;
    // May wait for the user's answer to the prompt: never on the main thread. notice gets one
    // line just before the disk service is asked.
    virtual Opened openSource(const QString& sourcePath,
                              const std::function<void(const QString&)>& notice) = 0;
    // Takes down this user's views of earlier runs whose helper has gone.
    virtual void unmountStaleViews() = 0;
};

} // namespace vellorin
