#pragma once

#include <QByteArray>
#include <QString>

namespace vellorin {
class RecoveryViewModel;
}

namespace vellorin::test {

// A resource folder below parent holding "photorec_auto.sh" with the given bash text and an
// (empty, never run) "photorec", each only when asked for. Returns the folder.
QString makeResourceFolder(const QString& parent, const QByteArray& script, bool withScript = true,
                           bool withEngine = true);

// Follows one recovery of a view model: made before the start, it sees isRecovering become
// true and then false again.
class RecoveryWatcher {
  public:
    explicit RecoveryWatcher(RecoveryViewModel& model);
    // Turns the event loop until the recovery has ended, then a little longer so that the
    // lines its ending posted have landed. False on timeout.
    bool waitForEnd(int timeoutMs = 30000);
    bool started() const { return started_; }
    bool ended() const { return ended_; }

  private:
    bool started_ = false;
    bool ended_ = false;
};

// Turns the event loop for the given time.
void spin(int milliseconds);

} // namespace vellorin::test
