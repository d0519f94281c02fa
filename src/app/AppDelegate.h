#pragma once

#include "platform/Platform.h"
#include "platform/desktop/DesktopPlatform.h"

#include <QObject>

class QCoreApplication;

#include <functional>

namespace vellorin {

// Dresses the main window once the event loop runs. Holds no state of its own: the window
// owns its content, and the content owns the view model.
class AppDelegate : public QObject {
  public:
    using PlatformFactory = std::function<Platform()>;

    explicit AppDelegate(PlatformFactory makePlatform = &desktopPlatform, QObject* parent = nullptr);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationSupportsSecureRestorableState() const;

    // Connects the delegate to the application: the launch call is queued so that it
    // runs from the event loop, and quitting reaches applicationWillTerminate.
    void attach(QCoreApplication& application);

  private:
    void configureMainWindow();

    PlatformFactory makePlatform_;
};

} // namespace vellorin
