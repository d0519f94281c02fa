#pragma once

#include <QString>

namespace vellorin {

// Preferences that survive a restart.
class Settings {
  public:
    virtual ~Settings() = default;
    virtual bool hasSeenOnboarding() = 0;
    virtual void setHasSeenOnboarding(bool seen) = 0;
    // Other preferences, by key; empty when never set.
    virtual QString text(const QString& key) = 0;
    virtual void setText(const QString& key, const QString& value) = 0;
};

} // namespace vellorin
