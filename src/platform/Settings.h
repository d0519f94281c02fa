#pragma once

namespace vellorin {

// The one preference that survives a restart.
class Settings {
  public:
    virtual ~Settings() = default;
    virtual bool hasSeenOnboarding() = 0;
    virtual void setHasSeenOnboarding(bool seen) = 0;
};

} // namespace vellorin
