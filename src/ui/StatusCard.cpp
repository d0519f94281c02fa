#include "ui/StatusCard.h"

#include "ui/ElidedLabel.h"
#include "ui/IconLabel.h"
#include "ui/Theme.h"

#include <QVBoxLayout>

namespace vellorin {

StatusCard::StatusCard(const QString& symbolName, const QString& title, const QColor& valueColor,
                       QWidget* parent)
    : PanelSurface(0.85, 10, parent), value_(new ElidedLabel(this)), detail_(new ElidedLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(6);
    auto* heading = new IconLabel(symbolName, title, theme::subheadline(), theme::secondaryText(), this);
    value_->setFont(theme::systemFont(18, QFont::DemiBold));
    theme::setTextColor(value_, valueColor);
    layout->addWidget(heading);
    layout->addWidget(value_);
    detail_->setFont(theme::subheadline());
    theme::setTextColor(detail_, theme::secondaryText());
    detail_->hide();
    layout->addWidget(detail_);
    layout->addStretch(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(title);
}

void StatusCard::setValue(const QString& value) {
    value_->setText(value);
}

QString StatusCard::value() const {
    return value_->text();
}

void StatusCard::setDetail(const QString& detail) {
    detail_->setText(detail);
    detail_->setVisible(!detail.isEmpty());
    setAccessibleDescription(detail);
}

QString StatusCard::detail() const {
    return detail_->text();
}

QString StatusCard::displayedValue() const {
    return value_->displayedText();
}

} // namespace vellorin
