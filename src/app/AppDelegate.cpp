#include "app/AppDelegate.h"

#include "ui/ContentView.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>

namespace vellorin {

AppDelegate::AppDelegate(PlatformFactory makePlatform, QObject* parent)
    : QObject(parent), makePlatform_(std::move(makePlatform)) {}

void AppDelegate::attach(QCoreApplication& application) {
    connect(&application, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
    QMetaObject::invokeMethod(this, &AppDelegate::applicationDidFinishLaunching, Qt::QueuedConnection);
}

void AppDelegate::applicationDidFinishLaunching() {
    configureMainWindow();
}

// Nothing is saved or stopped at quit: a running engine outlives the window on purpose.
void AppDelegate::applicationWillTerminate() {}

bool AppDelegate::applicationSupportsSecureRestorableState() const {
    return true;
}

void AppDelegate::configureMainWindow() {
    QMainWindow* window = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if ((window = qobject_cast<QMainWindow*>(widget)))
            break;
    }
    if (!window)
        return; // launched without a window: nothing is shown and nothing is said

    window->setWindowTitle(QStringLiteral("Vellorin - Data Recovery"));
    auto* content = new ContentView(makePlatform_(), window);
    window->setCentralWidget(content);

    // The content area, not the frame, is 1100 by 750; the menu bar sits above it.
    const int menuHeight = window->menuBar() && !window->menuBar()->isNativeMenuBar()
                               ? window->menuBar()->sizeHint().height()
                               : 0;
    window->resize(1100, 750 + menuHeight);
    if (const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();
}

} // namespace vellorin
