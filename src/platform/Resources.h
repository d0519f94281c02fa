#pragma once

#include <QString>

#include <optional>

namespace vellorin {

// Where the engine and its script lie beside the application.
class Resources {
  public:
    virtual ~Resources() = default;
    // The resource folder, or none when the application has none.
    virtual std::optional<QString> resourceFolder() = 0;
};

} // namespace vellorin
