#include "ui/Theme.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHash>
#include <QStyle>
#include <QWidget>

namespace vellorin::theme {

namespace {

QFont scaled(qreal factor, QFont::Weight weight) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qRound(font.pixelSize() * factor));
    font.setWeight(weight);
    return font;
}

} // namespace

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x1f, 0x22, 0x2b);
    const QColor base(0x1a, 0x1c, 0x24);
    const QColor text = primaryText();
    const QColor disabledText(0x7a, 0x7e, 0x88);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window.lighter(110));
    p.setColor(QPalette::ToolTipBase, window.lighter(130));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, secondaryText());
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3d, 0x47));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x55, 0x58, 0x62));
    p.setColor(QPalette::Midlight, QColor(0x45, 0x48, 0x52));
    p.setColor(QPalette::Mid, QColor(0x30, 0x33, 0x3c));
    p.setColor(QPalette::Dark, QColor(0x15, 0x17, 0x1d));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, accent());
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, accent());
    p.setColor(QPalette::LinkVisited, accent().lighter(120));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Button, QColor(0x2c, 0x2f, 0x37));
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x3a, 0x48, 0x5c));
    return p;
}

QColor primaryText() {
    return QColor(0xec, 0xee, 0xf2);
}

QColor secondaryText() {
    return QColor(0xec, 0xee, 0xf5, 150);
}

QColor accent() {
    return QColor(0x0a, 0x84, 0xff);
}

QColor green() {
    return QColor(0x30, 0xd1, 0x58);
}

QColor statusColor(RecoveryViewModel::StatusColor color) {
    using C = RecoveryViewModel::StatusColor;
    switch (color) {
    case C::Primary:
        return primaryText();
    case C::Red:
        return QColor(0xff, 0x45, 0x3a);
    case C::Blue:
        return QColor(0x40, 0x9c, 0xff);
    case C::Orange:
        return QColor(0xff, 0x9f, 0x0a);
    case C::Green:
        return green();
    }
    return primaryText();
}

QColor controlBackground() {
    return QColor(0x1e, 0x1e, 0x1e);
}

QColor separator() {
    return QColor(255, 255, 255, 26);
}

QFont headline() {
    return scaled(1.0, QFont::Bold);
}

QFont subheadline() {
    return scaled(0.92, QFont::Normal);
}

QFont caption() {
    return scaled(0.85, QFont::Normal);
}

QFont body() {
    return scaled(1.0, QFont::Normal);
}

QFont footnoteMonospaced() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QFont base = QApplication::font();
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * 0.9);
    font.setStyleHint(QFont::Monospace);
    return font;
}

QFont systemFont(int pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QIcon icon(const QString& symbolName) {
    struct Mapping {
        const char* themeName;
        QStyle::StandardPixmap fallback;
    };
    static const QHash<QString, Mapping> mappings{
        {QStringLiteral("internaldrive"), {"drive-harddisk", QStyle::SP_DriveHDIcon}},
        {QStringLiteral("externaldrive"), {"drive-removable-media", QStyle::SP_DriveFDIcon}},
        {QStringLiteral("externaldrive.badge.arrow.down"),
         {"drive-removable-media", QStyle::SP_DialogSaveButton}},
        {QStringLiteral("checkmark.circle.fill"), {"emblem-default", QStyle::SP_DialogApplyButton}},
        {QStringLiteral("magnifyingglass"), {"edit-find", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("play.fill"), {"media-playback-start", QStyle::SP_MediaPlay}},
        {QStringLiteral("doc"), {"text-x-generic", QStyle::SP_FileIcon}},
        {QStringLiteral("lock.open"), {"changes-allow", QStyle::SP_DialogYesButton}},
        {QStringLiteral("hand.tap"), {"input-mouse", QStyle::SP_MessageBoxInformation}},
    };
    const auto it = mappings.constFind(symbolName);
    if (it == mappings.constEnd())
        return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(it->themeName));
    if (!themed.isNull() && !themed.availableSizes().isEmpty())
        return themed;
    return QApplication::style()->standardIcon(it->fallback);
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette p = widget->palette();
    QColor disabled = color;
    disabled.setAlphaF(color.alphaF() * 0.45);
    // Views refresh at every change of the model, hundreds of times a second in a run; setting
    // a palette, even an equal one, resolves it against the application's again.
    const bool unchanged = [&] {
        if (!widget->testAttribute(Qt::WA_SetPalette))
            return false; // an inherited colour would follow the parent's later
        for (auto role : {QPalette::WindowText, QPalette::Text}) {
            if (p.color(QPalette::Active, role) != color || p.color(QPalette::Inactive, role) != color ||
                p.color(QPalette::Disabled, role) != disabled)
                return false;
        }
        return true;
    }();
    if (unchanged)
        return;
    for (auto role : {QPalette::WindowText, QPalette::Text}) {
        p.setColor(QPalette::Active, role, color);
        p.setColor(QPalette::Inactive, role, color);
        p.setColor(QPalette::Disabled, role, disabled);
    }
    widget->setPalette(p);
}

} // namespace vellorin::theme
