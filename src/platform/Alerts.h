#pragma once

#include <QString>
#include <QStringList>

namespace vellorin {

// Modal alerts. The answer is the index of the button pressed, in the order given.
class Alerts {
  public:
    virtual ~Alerts() = default;
    virtual int runModal(const QString& title, const QString& message, const QStringList& buttons) = 0;
};

} // namespace vellorin
