#pragma once

#include "platform/Resources.h"

namespace vellorin {

// The resource folder beside the executable: <folder of the executable>/../share/vellorin,
// the same in the build tree and in the installed tree.
class ExecutableResources final : public Resources {
  public:
    std::optional<QString> resourceFolder() override;
};

} // namespace vellorin
