#include "ui/HeaderSection.h"

#include "ui/Theme.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vellorin {

HeaderSection::HeaderSection(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* title = new QLabel(QStringLiteral("Vellorin"), this);
    title->setObjectName(QStringLiteral("titleLabel"));
    title->setFont(theme::systemFont(28, QFont::Bold));
    theme::setTextColor(title, theme::primaryText());

    auto* subtitle =
        new QLabel(QStringLiteral("Deep scan with PhotoRec, or quick copy for common file types. Keep "
                                  "source and save paths separate."),
                   this);
    subtitle->setObjectName(QStringLiteral("subtitleLabel"));
    subtitle->setFont(theme::systemFont(13, QFont::Normal));
    subtitle->setWordWrap(true);
    theme::setTextColor(subtitle, theme::secondaryText());

    layout->addWidget(title);
    layout->addWidget(subtitle);
}

} // namespace vellorin
