#include "ui/QuickStartSheet.h"

#include "platform/Settings.h"
#include "ui/IconLabel.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vellorin {

QuickStartSheet::QuickStartSheet(std::shared_ptr<Settings> settings, QWidget* parent)
    : QDialog(parent), settings_(std::move(settings)),
      gotIt_(new QPushButton(QStringLiteral("Got it"), this)),
      title_(new QLabel(QStringLiteral("Quick Start"), this)) {
    setWindowTitle(QStringLiteral("Quick Start"));
    setWindowModality(Qt::WindowModal);
    setPalette(theme::darkPalette());
    setMinimumWidth(520);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(20);
    title_->setFont(theme::systemFont(26, QFont::Bold));
    layout->addWidget(title_);

    auto* steps = new QVBoxLayout;
    steps->setSpacing(12);
    const std::pair<const char*, const char*> items[] = {
        {"internaldrive", "Step 1: Pick the source (disk/folder that holds the lost data)."},
        {"externaldrive.badge.arrow.down",
         "Step 2: Pick a different save location (prefer another drive or Documents/new folder)."},
        {"lock.open",
         "PhotoRec will create a recovered_files folder in the save path and needs write permission."},
        {"hand.tap",
         "If you see permission errors, switch to a writable path (Documents/Downloads/external drive) "
         "and click Allow in system prompts."},
    };
    for (const auto& [symbol, text] : items) {
        auto* item = new IconLabel(QString::fromLatin1(symbol), QString::fromUtf8(text), theme::body(),
                                   theme::primaryText(), this);
        item->setWordWrap(true);
        steps->addWidget(item);
        instructions_.append(item);
    }
    layout->addLayout(steps);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    gotIt_->setDefault(true);
    gotIt_->setAccessibleName(gotIt_->text());
    buttons->addWidget(gotIt_);
    layout->addLayout(buttons);

    connect(gotIt_, &QPushButton::clicked, this, &QuickStartSheet::gotIt);
}

QSize QuickStartSheet::sizeHint() const {
    // The wrapped instructions would ask for a narrow sheet; its height is then worked out
    // for that width, and the sheet, widened to its minimum, would keep the taller height as
    // empty space between its rows. The height is the content's at the width shown.
    const int width = std::max(minimumWidth(), QDialog::sizeHint().width());
    return {width, layout()->totalHeightForWidth(width)};
}

void QuickStartSheet::gotIt() {
    settings_->setHasSeenOnboarding(true);
    accept();
}

void QuickStartSheet::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    // Hidden without an explicit reason (its window closed under it) is a dismissal too.
    if (!event->spontaneous())
        emit dismissed();
}

} // namespace vellorin
