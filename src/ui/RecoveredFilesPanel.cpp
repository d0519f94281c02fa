#include "ui/RecoveredFilesPanel.h"

#include "platform/Workspace.h"
#include "ui/RecoveredFileRow.h"
#include "ui/RecoveredFilesModel.h"
#include "ui/Theme.h"
#include "ui/ThumbnailCache.h"
#include "ui/ThumbnailPrefetch.h"
#include "workflow/ResultsSorting.h"
#include "workflow/ViewController.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace vellorin {

namespace {

// A few screens of thumbnails of 32 points at twice the pixels: about 1,500 of them.
constexpr qint64 kThumbnailBytes = 24ll << 20;
// Rows above and below the screen whose thumbnails are decoded before they are scrolled to.
constexpr int kPrefetchRows = 30;

} // namespace

RecoveredFilesPanel::RecoveredFilesPanel(std::shared_ptr<RecoveryViewModel> viewModel,
                                         std::shared_ptr<ResultsSorting> sorting, QWidget* parent)
    : PanelSurface(0.9, 12, parent), viewModel_(std::move(viewModel)), sorting_(std::move(sorting)),
      model_(new RecoveredFilesModel(viewModel_, this)), row_(new RecoveredFileRow(this)),
      thumbnails_(new ThumbnailCache(row_->thumbnailSide(), qApp->devicePixelRatio(), kThumbnailBytes, this)),
      header_(new QLabel(this)), showing_(new QLabel(this)),
      scanning_(new QLabel(QStringLiteral("Scanning..."), this)),
      empty_(new QLabel(QStringLiteral("No files recovered yet. Start a scan to see results here."), this)),
      filters_(new QWidget(this)), kindGroup_(new QButtonGroup(this)), order_(new QComboBox(filters_)),
      search_(new QLineEdit(filters_)),
      sortButton_(new QPushButton(QStringLiteral("Sort into Folders"), this)),
      undoButton_(new QPushButton(QStringLiteral("Undo Sorting"), this)), list_(new QListView(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);

    auto* headerRow = new QHBoxLayout;
    header_->setFont(theme::headline());
    theme::setTextColor(header_, theme::primaryText());
    scanning_->setFont(theme::caption());
    theme::setTextColor(scanning_, theme::secondaryText());
    scanning_->setAccessibleName(scanning_->text());
    showing_->setObjectName(QStringLiteral("showingCount"));
    showing_->setFont(theme::caption());
    theme::setTextColor(showing_, theme::secondaryText());
    headerRow->addWidget(header_);
    headerRow->addWidget(showing_, 0, Qt::AlignBottom);
    headerRow->addStretch(1);
    headerRow->addWidget(scanning_);
    sortButton_->setObjectName(QStringLiteral("sortIntoFolders"));
    sortButton_->setAccessibleName(sortButton_->text());
    sortButton_->setAccessibleDescription(QStringLiteral(
        "Moves the recovered files into folders by kind, and pictures by the date they were taken"));
    sortButton_->setToolTip(QStringLiteral(
        "Move the files the search carved into Pictures, Videos, Audio, Documents, Archives and Other; "
        "pictures are named by the date they were taken, duplicates set aside"));
    undoButton_->setObjectName(QStringLiteral("undoSorting"));
    undoButton_->setAccessibleName(undoButton_->text());
    undoButton_->setToolTip(QStringLiteral("Put every sorted file back where the search left it"));
    headerRow->addWidget(sortButton_);
    headerRow->addWidget(undoButton_);
    layout->addLayout(headerRow);

    // Kind filters, the order and the search: they choose what the list shows, never what
    // was recovered.
    auto* filterRow = new QHBoxLayout(filters_);
    filterRow->setContentsMargins(0, 0, 0, 0);
    filterRow->setSpacing(4);
    kindGroup_->setExclusive(true);
    for (int i = -1; i < static_cast<int>(kAllFileKinds.size()); ++i) {
        auto* button = new QToolButton(filters_);
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setChecked(i < 0);
        button->setObjectName(i < 0 ? QStringLiteral("kindAll")
                                    : QStringLiteral("kind") +
                                          kindName(kAllFileKinds[static_cast<std::size_t>(i)]));
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        kindGroup_->addButton(button, i);
        kindButtons_.append(button);
        filterRow->addWidget(button);
    }
    filterRow->addStretch(1);
    order_->setObjectName(QStringLiteral("sortOrder"));
    for (const auto order : {ResultsQuery::Order::Newest, ResultsQuery::Order::Name,
                             ResultsQuery::Order::Size, ResultsQuery::Order::Kind})
        order_->addItem(ResultsQuery::orderName(order), static_cast<int>(order));
    order_->setAccessibleName(QStringLiteral("Sort by"));
    order_->setToolTip(QStringLiteral("Sort by"));
    filterRow->addWidget(order_);
    search_->setObjectName(QStringLiteral("searchByName"));
    search_->setPlaceholderText(QStringLiteral("Search by name"));
    search_->setAccessibleName(QStringLiteral("Search by name"));
    search_->setClearButtonEnabled(true);
    search_->setMinimumWidth(160);
    filterRow->addWidget(search_);
    layout->addWidget(filters_);
    // Left to right as they are seen: the filters, the order, the search, then the rows.
    setTabOrder(kindButtons_.last(), order_);
    setTabOrder(order_, search_);

    theme::setTextColor(empty_, theme::secondaryText());
    empty_->setContentsMargins(0, 20, 0, 20);
    empty_->setWordWrap(true);
    empty_->setAccessibleName(empty_->text());
    layout->addWidget(empty_);

    list_->setObjectName(QStringLiteral("recoveredFilesList"));
    list_->setModel(model_);
    list_->setItemDelegate(row_);
    row_->setThumbnails(thumbnails_);
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
    setTabOrder(search_, list_);

    connect(row_, &RecoveredFileRow::openRequested, this, &RecoveredFilesPanel::reveal);
    // Return or Enter on the current row, and a double click, open the file itself.
    connect(list_, &QListView::activated, this, &RecoveredFilesPanel::open);
    // The counts are said once per turn of the event loop: a copy lists thousands of files a
    // second, and each must cost the window no more than its row.
    auto* countSoon = new QTimer(this);
    countSoon->setSingleShot(true);
    countSoon->setInterval(0);
    connect(countSoon, &QTimer::timeout, this, [this] {
        refreshHeader();
        refreshKinds();
    });
    const auto count = [countSoon] {
        if (!countSoon->isActive())
            countSoon->start();
    };
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model_, signal, countSoon, count);
    connect(model_, &QAbstractItemModel::modelReset, countSoon, count);
    connect(viewModel_.get(), &RecoveryViewModel::recoveredFilesChanged, countSoon, count);
    connect(model_, &RecoveredFilesModel::kindCountsChanged, countSoon, count);
    connect(viewModel_.get(), &RecoveryViewModel::isRecoveringChanged, this,
            &RecoveredFilesPanel::refreshRecovering);
    connect(kindGroup_, &QButtonGroup::idClicked, this, &RecoveredFilesPanel::applyQuery);
    connect(order_, &QComboBox::currentIndexChanged, this, &RecoveredFilesPanel::applyQuery);
    connect(search_, &QLineEdit::textChanged, this, &RecoveredFilesPanel::applyQuery);
    connect(sorting_.get(), &ResultsSorting::changed, this, &RecoveredFilesPanel::refreshSorting);
    connect(sortButton_, &QPushButton::clicked, this, [this] { sorting_->sortIntoFolders(); });
    connect(undoButton_, &QPushButton::clicked, this, [this] { sorting_->undoSorting(); });

    // Thumbnails for the rows on screen and those about to be, asked for once per turn of the
    // event loop however many rows moved.
    auto* prefetchSoon = new QTimer(this);
    prefetchSoon->setSingleShot(true);
    prefetchSoon->setInterval(0);
    connect(prefetchSoon, &QTimer::timeout, this, &RecoveredFilesPanel::prefetch);
    const auto schedule = [prefetchSoon] {
        if (!prefetchSoon->isActive())
            prefetchSoon->start();
    };
    connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, prefetchSoon, schedule);
    connect(model_, &QAbstractItemModel::rowsInserted, prefetchSoon, schedule);
    connect(model_, &QAbstractItemModel::modelReset, prefetchSoon, schedule);
    connect(model_, &QAbstractItemModel::layoutChanged, prefetchSoon, schedule);
    connect(thumbnails_, &ThumbnailCache::thumbnailReady, list_->viewport(),
            [this] { list_->viewport()->update(); });

    refreshHeader();
    refreshKinds();
    refreshRecovering();
    refreshSorting();
}

void RecoveredFilesPanel::prefetch() {
    if (list_->isVisible())
        prefetchThumbnails(*list_, *thumbnails_, kPrefetchRows);
}

void RecoveredFilesPanel::applyQuery() {
    ResultsQuery query;
    const int kind = kindGroup_->checkedId();
    if (kind >= 0 && kind < static_cast<int>(kAllFileKinds.size()))
        query.kind = kAllFileKinds[static_cast<std::size_t>(kind)];
    query.order = static_cast<ResultsQuery::Order>(order_->currentData().toInt());
    query.text = search_->text().trimmed();
    model_->setQuery(query);
}

void RecoveredFilesPanel::refreshKinds() {
    for (int i = 0; i < kindButtons_.size(); ++i) {
        const std::optional<FileKind> kind =
            i == 0 ? std::nullopt : std::optional<FileKind>(kAllFileKinds[static_cast<std::size_t>(i - 1)]);
        const QString text = (kind ? kindName(*kind) : QStringLiteral("All")) + QStringLiteral(" (") +
                             QString::number(model_->kindCount(kind)) + QLatin1Char(')');
        QToolButton* button = kindButtons_.at(i);
        if (button->text() != text) {
            button->setText(text);
            button->setAccessibleName(text);
        }
    }
}

void RecoveredFilesPanel::refreshSorting() {
    // "Sort into Folders" while there is something to sort (or nothing sorted yet), "Undo
    // Sorting" once something is: both after a search resumed into a sorted folder.
    const bool deep = !viewModel_->deepResultsDirectory().isEmpty();
    sortButton_->setVisible(deep && (sorting_->hasUnsortedFiles() || !sorting_->isSorted()));
    sortButton_->setEnabled(sorting_->canSort());
    undoButton_->setVisible(deep && sorting_->isSorted());
    undoButton_->setEnabled(sorting_->canUndo());
}

void RecoveredFilesPanel::refreshHeader() {
    // The number recovered, whatever the list shows of them.
    const auto count = viewModel_->recoveredFiles().size();
    const QString text = QStringLiteral("Recovered Files (") + QString::number(count) + QLatin1Char(')');
    if (header_->text() != text) {
        header_->setText(text);
        header_->setAccessibleName(text);
    }
    const ResultsQuery& query = model_->query();
    const bool filtered = query.kind || !query.text.isEmpty();
    const QString showing =
        filtered ? QStringLiteral("showing ") + QString::number(model_->rowCount()) : QString();
    if (showing_->text() != showing) {
        showing_->setText(showing);
        showing_->setAccessibleName(showing);
    }
    showing_->setVisible(filtered);
    const bool empty = count == 0;
    if (!showingEmpty_ || *showingEmpty_ != empty) {
        showingEmpty_ = empty;
        empty_->setVisible(empty);
        list_->setVisible(!empty);
        filters_->setVisible(!empty);
        setSizePolicy(QSizePolicy::Preferred, empty ? QSizePolicy::Maximum : QSizePolicy::Expanding);
    }
}

void RecoveredFilesPanel::refreshRecovering() {
    scanning_->setVisible(viewModel_->isRecovering());
}

void RecoveredFilesPanel::open(const QModelIndex& index) {
    if (index.isValid())
        viewModel_->platform().workspace->openFile(index.data(RecoveredFilesModel::PathRole).toString());
}

void RecoveredFilesPanel::reveal(const QModelIndex& index) {
    if (!index.isValid())
        return;
    // Whatever becomes of the reveal (the file may have been deleted meanwhile), the
    // window shows nothing and changes nothing.
    viewModel_->platform().workspace->revealFile(index.data(RecoveredFilesModel::PathRole).toString());
}

} // namespace vellorin
