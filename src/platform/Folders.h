#pragma once

#include <QString>

#include <optional>

namespace vellorin {

// Per-user folders the workflow may fall back to.
class Folders {
  public:
    virtual ~Folders() = default;
    // The user's data folder (normally ~/.local/share), created if missing; none when it
    // cannot be had.
    virtual std::optional<QString> userDataFolder() = 0;
    virtual QString temporaryFolder() = 0;
};

class StandardFolders final : public Folders {
  public:
    std::optional<QString> userDataFolder() override;
    QString temporaryFolder() override;
};

} // namespace vellorin
