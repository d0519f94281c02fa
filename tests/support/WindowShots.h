#pragma once

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QProcessEnvironment>
#include <QWidget>

namespace vellorin::test {

// Screenshots go below the build folder, where a reviewer (or a person) can look at them.
inline QString screenshotPath(const QString& name) {
    QString root = qEnvironmentVariable("VELLORIN_BUILD_DIR");
    if (root.isEmpty())
        root = QDir::currentPath();
    QDir().mkpath(root + QStringLiteral("/screenshots"));
    return root + QStringLiteral("/screenshots/") + name + QStringLiteral(".png");
}

// The window as the user sees it, with any of its visible dialogs drawn on top where the
// window system would place them.
inline QImage captureWindow(QWidget* window) {
    QImage image = window->grab().toImage();
    QPainter painter(&image);
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (!child->isWindow() || !child->isVisible())
            continue;
        const QPoint at = child->geometry().topLeft() - window->geometry().topLeft();
        painter.fillRect(QRect(QPoint(), image.size()), QColor(0, 0, 0, 90));
        painter.drawPixmap(at, child->grab());
    }
    return image;
}

inline bool saveScreenshot(QWidget* window, const QString& name) {
    return captureWindow(window).save(screenshotPath(name));
}

} // namespace vellorin::test
