#pragma once

#include "platform/Alerts.h"

namespace vellorin {

// Alerts as QMessageBox dialogs, modal to the active window.
class MessageBoxAlerts final : public Alerts {
  public:
    int runModal(const QString& title, const QString& message, const QStringList& buttons) override;
};

} // namespace vellorin
