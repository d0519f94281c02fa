#pragma once

#include <QString>

namespace vellorin {

// The folder a source panel opens at: the first that exists of /Volumes, /run/media/$USER,
// /media/$USER, /media and /mnt, else the home folder (where desktops mount removable disks).
QString sourceStartFolder();

// The user's home folder, where the save-location panel opens.
QString homeFolder();

} // namespace vellorin
