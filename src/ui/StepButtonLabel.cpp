#include "ui/StepButtonLabel.h"

#include "ui/IconLabel.h"
#include "ui/Theme.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vellorin {

StepButtonLabel::StepButtonLabel(const QString& title, const QString& symbolName, const QString& subtitle,
                                 const QColor& titleColor, const QColor& subtitleColor, QWidget* parent)
    : QWidget(parent), title_(new IconLabel(symbolName, title, theme::headline(), titleColor, this)),
      subtitle_(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    subtitle_->setFont(theme::caption());
    subtitle_->setWordWrap(true);
    subtitle_->setTextFormat(Qt::PlainText);
    theme::setTextColor(subtitle_, subtitleColor);
    setSubtitle(subtitle);
    layout->addWidget(title_);
    layout->addWidget(subtitle_);
    // Clicks belong to the button underneath.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void StepButtonLabel::setTitle(const QString& title) {
    title_->setText(title);
}

void StepButtonLabel::setSubtitle(const QString& subtitle) {
    // A long path has no spaces to wrap at; offer a break after every separator rather
    // than let the path widen the window.
    QString shown = subtitle;
    shown.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    subtitle_->setText(shown);
    subtitle_->setAccessibleName(subtitle);
    subtitleText_ = subtitle;
}

QString StepButtonLabel::title() const {
    return title_->text();
}

QString StepButtonLabel::subtitle() const {
    return subtitleText_;
}

} // namespace vellorin
