#include "ui/StatusLine.h"

#include "ui/ProgressSpinner.h"
#include "ui/Theme.h"
#include "workflow/ViewController.h"

#include <QHBoxLayout>
#include <QLabel>

namespace vellorin {

StatusLine::StatusLine(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(std::move(viewModel)), spinner_(new ProgressSpinner(this)),
      message_(new QLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(10);
    message_->setFont(theme::headline());
    message_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText);
    layout->addWidget(spinner_, 0, Qt::AlignVCenter);
    layout->addWidget(message_, 1, Qt::AlignVCenter);
    RecoveryViewModel* model = viewModel_.get();
    for (auto signal : {&RecoveryViewModel::isRecoveringChanged, &RecoveryViewModel::statusMessageChanged,
                        &RecoveryViewModel::statusColorChanged})
        connect(model, signal, this, &StatusLine::refresh);
    refresh();
}

void StatusLine::refresh() {
    spinner_->setVisible(viewModel_->isRecovering());
    if (message_->text() != viewModel_->statusMessage()) {
        message_->setText(viewModel_->statusMessage());
        message_->setAccessibleName(viewModel_->statusMessage());
    }
    theme::setTextColor(message_, theme::statusColor(viewModel_->statusColor()));
}

} // namespace vellorin
