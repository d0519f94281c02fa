#pragma once

#include <QString>
#include <QStringList>

namespace vellorin {

// Modal alerts. The answer is the index of the button pressed, in the order given.
class Alerts {
  public:
    // The answer of a view with no one to ask (the command line, run without the option that
    // answers the question): the step that asked goes no further.
    static constexpr int kUnanswered = -2;

    virtual ~Alerts() = default;
    virtual int runModal(const QString& title, const QString& message, const QStringList& buttons) = 0;
};

} // namespace vellorin
