#include "platform/UserSettings.h"

#include <QSettings>

namespace vellorin {

namespace {
const QString kHasSeenOnboarding = QStringLiteral("hasSeenOnboarding");
}

UserSettings::UserSettings()
    : settings_(std::make_unique<QSettings>(QStringLiteral("Vellorin"), QStringLiteral("Vellorin"))) {}

UserSettings::UserSettings(const QString& filePath)
    : settings_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {}

UserSettings::~UserSettings() = default;

bool UserSettings::hasSeenOnboarding() {
    return settings_->value(kHasSeenOnboarding, false).toBool();
}

void UserSettings::setHasSeenOnboarding(bool seen) {
    settings_->setValue(kHasSeenOnboarding, seen);
    // Written through at once: the application may be killed rather than quit, and the
    // sheet must not come back after that.
    settings_->sync();
}

QString UserSettings::text(const QString& key) {
    return settings_->value(key).toString();
}

void UserSettings::setText(const QString& key, const QString& value) {
    settings_->setValue(key, value);
    settings_->sync();
}

} // namespace vellorin
