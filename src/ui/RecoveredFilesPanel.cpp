#include "ui/RecoveredFilesPanel.h"

#include "platform/Workspace.h"
#include "ui/RecoveredFileRow.h"
#include "ui/RecoveredFilesModel.h"
#include "ui/Theme.h"
#include "workflow/ViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QVBoxLayout>

namespace vellorin {

RecoveredFilesPanel::RecoveredFilesPanel(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent)
    : PanelSurface(0.9, 12, parent), viewModel_(std::move(viewModel)),
      model_(new RecoveredFilesModel(viewModel_, this)), row_(new RecoveredFileRow(this)),
      header_(new QLabel(this)), scanning_(new QLabel(QStringLiteral("Scanning..."), this)),
      empty_(new QLabel(QStringLiteral("No files recovered yet. Start a scan to see results here."), this)),
      list_(new QListView(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);

    auto* headerRow = new QHBoxLayout;
    header_->setFont(theme::headline());
    theme::setTextColor(header_, theme::primaryText());
    scanning_->setFont(theme::caption());
    theme::setTextColor(scanning_, theme::secondaryText());
    scanning_->setAccessibleName(scanning_->text());
    headerRow->addWidget(header_);
    headerRow->addStretch(1);
    headerRow->addWidget(scanning_);
    layout->addLayout(headerRow);

    theme::setTextColor(empty_, theme::secondaryText());
    empty_->setContentsMargins(0, 20, 0, 20);
    empty_->setWordWrap(true);
    empty_->setAccessibleName(empty_->text());
    layout->addWidget(empty_);

    list_->setObjectName(QStringLiteral("recoveredFilesList"));
    list_->setModel(model_);
    list_->setItemDelegate(row_);
    // Every row has the same height, which keeps layout and scrolling independent of
    // the number of rows.
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setMouseTracking(true);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setMinimumHeight(240);
    list_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    list_->setAccessibleName(QStringLiteral("Recovered Files"));
    QPalette p = list_->palette();
    p.setColor(QPalette::Base, Qt::transparent);
    list_->setPalette(p);
    list_->viewport()->setAutoFillBackground(false);
    layout->addWidget(list_, 1);

    connect(row_, &RecoveredFileRow::openRequested, this, &RecoveredFilesPanel::reveal);
    // Return or Enter on the current row (and a double click) is the keyboard's "Open".
    connect(list_, &QListView::activated, this, &RecoveredFilesPanel::reveal);
    connect(model_, &QAbstractItemModel::rowsInserted, this, &RecoveredFilesPanel::refreshHeader);
    connect(model_, &QAbstractItemModel::rowsRemoved, this, &RecoveredFilesPanel::refreshHeader);
    connect(model_, &QAbstractItemModel::modelReset, this, &RecoveredFilesPanel::refreshHeader);
    connect(viewModel_.get(), &RecoveryViewModel::isRecoveringChanged, this,
            &RecoveredFilesPanel::refreshRecovering);
    refreshHeader();
    refreshRecovering();
}

void RecoveredFilesPanel::refreshHeader() {
    const int count = model_->rowCount();
    const QString text = QStringLiteral("Recovered Files (") + QString::number(count) + QLatin1Char(')');
    header_->setText(text);
    header_->setAccessibleName(text);
    const bool empty = count == 0;
    if (!showingEmpty_ || *showingEmpty_ != empty) {
        showingEmpty_ = empty;
        empty_->setVisible(empty);
        list_->setVisible(!empty);
        setSizePolicy(QSizePolicy::Preferred, empty ? QSizePolicy::Maximum : QSizePolicy::Expanding);
    }
}

void RecoveredFilesPanel::refreshRecovering() {
    scanning_->setVisible(viewModel_->isRecovering());
}

void RecoveredFilesPanel::reveal(const QModelIndex& index) {
    if (!index.isValid())
        return;
    // Whatever becomes of the reveal (the file may have been deleted meanwhile), the
    // window shows nothing and changes nothing.
    viewModel_->platform().workspace->revealFile(index.data(RecoveredFilesModel::PathRole).toString());
}

} // namespace vellorin
