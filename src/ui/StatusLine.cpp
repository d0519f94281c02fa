#include "ui/StatusLine.h"

#include "ui/ProgressSpinner.h"
#include "ui/Theme.h"
#include "workflow/ResultsSorting.h"
#include "workflow/ViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace vellorin {

StatusLine::StatusLine(std::shared_ptr<RecoveryViewModel> viewModel, std::shared_ptr<ResultsSorting> sorting,
                       QWidget* parent)
    : QWidget(parent), viewModel_(std::move(viewModel)), sorting_(std::move(sorting)),
      spinner_(new ProgressSpinner(this)), bar_(new QProgressBar(this)), message_(new QLabel(this)),
      detail_(new QLabel(this)), stop_(new QPushButton(QStringLiteral("Stop"), this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(10);
    message_->setFont(theme::headline());
    message_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText);
    bar_->setRange(0, 100);
    bar_->setTextVisible(true);
    bar_->setFixedWidth(140);
    bar_->setObjectName(QStringLiteral("searchProgress"));
    bar_->setAccessibleName(QStringLiteral("Search progress"));
    detail_->setTextFormat(Qt::PlainText);
    detail_->setObjectName(QStringLiteral("progressDetail"));
    theme::setTextColor(detail_, theme::secondaryText());
    stop_->setObjectName(QStringLiteral("stopButton"));
    stop_->setAccessibleName(QStringLiteral("Stop"));
    stop_->setAccessibleDescription(
        QStringLiteral("Stops the recovery; the files recovered so far are kept"));
    stop_->setToolTip(QStringLiteral("Stop the recovery; the files recovered so far are kept"));
    layout->addWidget(spinner_, 0, Qt::AlignVCenter);
    layout->addWidget(bar_, 0, Qt::AlignVCenter);
    layout->addWidget(message_, 1, Qt::AlignVCenter);
    layout->addWidget(detail_, 0, Qt::AlignVCenter);
    layout->addWidget(stop_, 0, Qt::AlignVCenter);
    RecoveryViewModel* model = viewModel_.get();
    for (auto signal : {&RecoveryViewModel::isRecoveringChanged, &RecoveryViewModel::statusMessageChanged,
                        &RecoveryViewModel::statusColorChanged, &RecoveryViewModel::progressChanged})
        connect(model, signal, this, &StatusLine::refresh);
    connect(sorting_.get(), &ResultsSorting::changed, this, &StatusLine::refresh);
    connect(stop_, &QPushButton::clicked, this, [this] { viewModel_->requestStop(); });
    refresh();
}

void StatusLine::refresh() {
    if (message_->text() != viewModel_->statusMessage()) {
        message_->setText(viewModel_->statusMessage());
        message_->setAccessibleName(viewModel_->statusMessage());
    }
    theme::setTextColor(message_, theme::statusColor(viewModel_->statusColor()));
    stop_->setVisible(viewModel_->isRecovering());
    refreshProgress();
}

void StatusLine::refreshProgress() {
    if (sorting_->isBusy()) {
        // Sorting the results after the run: its own share, beside the run's last status.
        spinner_->setVisible(false);
        bar_->setVisible(true);
        bar_->setValue(std::min(99, static_cast<int>(std::floor(sorting_->share() * 100))));
        bar_->setAccessibleDescription(sorting_->progressText());
        detail_->setVisible(true);
        if (detail_->text() != sorting_->progressText()) {
            detail_->setText(sorting_->progressText());
            detail_->setAccessibleName(sorting_->progressText());
        }
        return;
    }
    const bool recovering = viewModel_->isRecovering();
    const RecoveryProgress& progress = viewModel_->progress();
    const bool shared = recovering && progress.phase == RecoveryProgress::Phase::Searching;
    spinner_->setVisible(recovering && !shared);
    bar_->setVisible(shared);
    if (shared) {
        const int percent = std::min(99, static_cast<int>(std::floor(progress.share * 100)));
        bar_->setValue(percent);
        bar_->setAccessibleDescription(progress.summary());
    }
    const QString summary = recovering ? progress.summary() : QString();
    detail_->setVisible(!summary.isEmpty());
    if (detail_->text() != summary) {
        detail_->setText(summary);
        detail_->setAccessibleName(summary);
    }
}

} // namespace vellorin
