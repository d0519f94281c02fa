#pragma once

#include "platform/BlockDevices.h"

#include <QByteArray>

#include <functional>
#include <variant>

namespace vellorin {

// The columns parseLsblkOutput() reads, for "lsblk --json --bytes -o …".
inline constexpr const char* kLsblkColumns =
    "NAME,KNAME,PATH,TYPE,SIZE,VENDOR,MODEL,TRAN,RM,LABEL,FSTYPE,MOUNTPOINTS";

// Reads util-linux's JSON (2.38 writes numbers and booleans as such, older ones as strings).
// lsblk has no column for a loop device's image: backingFile is asked for each loop device by
// its kernel name. Returns the tree, or a sentence saying what was wrong with the text.
std::variant<QList<BlockDevice>, QString>
parseLsblkOutput(const QByteArray& json,
                 const std::function<QString(const QString& kernelName)>& backingFile);

} // namespace vellorin
