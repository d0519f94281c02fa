#pragma once

#include "platform/BlockDevices.h"

#include <QString>

#include <optional>

namespace vellorin {

// Keeps recovered files off the disk they are recovered from: writing them there would
// overwrite the very deleted data they are carved from.
class SaveLocationGuard {
  public:
    explicit SaveLocationGuard(BlockDevices& devices) : devices_(devices) {}

    // The source (a device or an image) when savePath would be written onto it: through the
    // device itself, a partition of it, anything mapped onto it, or a loop device whose image
    // lies on any of these (or is the image itself). None when the save location is elsewhere
    // or the devices cannot be listed (the engine script checks again before it reads).
    std::optional<QString> sourceUnder(const QString& sourcePath, const QString& savePath);

  private:
    BlockDevices& devices_;
};

} // namespace vellorin
