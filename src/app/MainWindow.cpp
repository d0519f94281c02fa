#include "app/MainWindow.h"

#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>

namespace vellorin {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("mainWindow"));
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* quit =
        file->addAction(QIcon::fromTheme(QStringLiteral("application-exit")), QStringLiteral("&Quit"));
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);
    quit->setMenuRole(QAction::QuitRole);
    // Quits without stopping a running engine, as closing the window does.
    connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    QAction* about = help->addAction(QStringLiteral("&About Vellorin"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, [this] {
        QMessageBox::about(
            this, QStringLiteral("About Vellorin"),
            QStringLiteral("Vellorin %1\nRecovers lost or deleted files onto another disk or folder.")
                .arg(QApplication::applicationVersion()));
    });
}

} // namespace vellorin
