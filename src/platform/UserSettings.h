#pragma once

#include "platform/Settings.h"

#include <QString>

#include <memory>

class QSettings;

namespace vellorin {

// The preferences kept in the user's Vellorin settings file (~/.config/Vellorin/Vellorin.conf),
// or in a given file.
class UserSettings final : public Settings {
  public:
    UserSettings();
    explicit UserSettings(const QString& filePath);
    ~UserSettings() override;

    bool hasSeenOnboarding() override;
    void setHasSeenOnboarding(bool seen) override;
    QString text(const QString& key) override;
    void setText(const QString& key, const QString& value) override;

  private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace vellorin
