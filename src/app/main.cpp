#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "platform/Allocator.h"
#include "ui/Theme.h"

#include <QApplication>

int main(int argc, char** argv) {
    vellorin::freeSmallBlocksEagerly();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vellorin"));
    QApplication::setApplicationName(QStringLiteral("Vellorin"));
    QApplication::setApplicationVersion(QStringLiteral(VELLORIN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vellorin.Vellorin"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.vellorin.Vellorin")));
    QApplication::setPalette(vellorin::theme::darkPalette());

    vellorin::MainWindow window;
    vellorin::AppDelegate delegate;
    delegate.attach(app);
    return app.exec();
}
