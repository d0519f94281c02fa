#include "ui/IconLabel.h"

#include "ui/Theme.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>

namespace vellorin {

IconLabel::IconLabel(const QString& symbolName, const QString& text, const QFont& font, const QColor& color,
                     QWidget* parent)
    : QWidget(parent), icon_(new QLabel(this)), text_(new QLabel(text, this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    const int side = QFontMetrics(font).height();
    icon_->setPixmap(theme::icon(symbolName).pixmap(side, side));
    icon_->setFixedSize(side, side);
    icon_->setAccessibleName(QString());
    text_->setFont(font);
    theme::setTextColor(text_, color);
    layout->addWidget(icon_, 0, Qt::AlignTop);
    layout->addWidget(text_, 1);
    setAccessibleName(text);
}

void IconLabel::setText(const QString& text) {
    text_->setText(text);
    setAccessibleName(text);
}

QString IconLabel::text() const {
    return text_->text();
}

void IconLabel::setWordWrap(bool on) {
    text_->setWordWrap(on);
}

} // namespace vellorin
