#include "ui/DiskPickerDialog.h"

#include "platform/Panels.h"
#include "ui/ByteCount.h"
#include "workflow/DiskCatalogue.h"
#include "workflow/ViewController.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vellorin {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;

QString transportWording(const QString& transport) {
    static const QHash<QString, QString> known{
        {QStringLiteral("usb"), QStringLiteral("USB")},   {QStringLiteral("sata"), QStringLiteral("SATA")},
        {QStringLiteral("nvme"), QStringLiteral("NVMe")}, {QStringLiteral("mmc"), QStringLiteral("MMC")},
        {QStringLiteral("ata"), QStringLiteral("ATA")},   {QStringLiteral("scsi"), QStringLiteral("SCSI")},
    };
    return known.value(transport, transport.toUpper());
}

QString mountWording(const BlockDevice& device) {
    QStringList places;
    for (const QString& mount : device.mountPoints)
        places.append(mount == QStringLiteral("[SWAP]") ? QStringLiteral("swap") : mount);
    return places.isEmpty() ? QString() : QStringLiteral("mounted at ") + places.join(QStringLiteral(", "));
}

// What a row says after its name and size; the same words make its accessible name.
QStringList diskDetails(const DiskCatalogue::Disk& disk) {
    const BlockDevice& device = disk.device;
    QStringList details;
    if (!device.transport.isEmpty())
        details.append(transportWording(device.transport));
    if (device.removable)
        details.append(QStringLiteral("removable"));
    if (device.type == QStringLiteral("loop"))
        details.append(device.backingFile.isEmpty() ? QStringLiteral("loop device")
                                                    : QStringLiteral("image ") + device.backingFile);
    if (disk.partitions.isEmpty()) {
        for (const QString& part : {device.label, device.fileSystem, mountWording(device)})
            if (!part.isEmpty())
                details.append(part);
    }
    if (disk.systemDisk)
        details.append(QStringLiteral("System disk"));
    return details;
}

QStringList partitionDetails(const BlockDevice& partition) {
    QStringList details;
    for (const QString& part : {partition.label, partition.fileSystem})
        if (!part.isEmpty())
            details.append(part);
    return details;
}

QString partitionTitle(const BlockDevice& partition) {
    return partition.partitionNumber > 0
               ? QStringLiteral("Partition ") + QString::number(partition.partitionNumber)
               : partition.kernelName;
}

QTreeWidgetItem* makeRow(const QString& title, std::int64_t size, const QStringList& details,
                         const QString& path, const QString& name, const QString& accessibleName) {
    auto* item = new QTreeWidgetItem(
        QStringList{title, formatByteCount(size), details.join(QStringLiteral(", ")), path});
    item->setData(0, kPathRole, path);
    item->setData(0, kNameRole, name);
    for (int column = 0; column < 4; ++column)
        item->setData(column, Qt::AccessibleTextRole, column == 0 ? accessibleName : item->text(column));
    return item;
}

} // namespace

DiskPickerDialog::DiskPickerDialog(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent)
    : QDialog(parent), viewModel_(std::move(viewModel)),
      catalogue_(DiskCatalogue::create(viewModel_->platform().queues, viewModel_->platform().blockDevices)) {
    setWindowTitle(QStringLiteral("Select Disk or Image"));
    setAccessibleName(windowTitle());
    setObjectName(QStringLiteral("diskPickerDialog"));
    resize(760, 420);

    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(
        QStringLiteral(
            "Choose the disk or partition that held the lost files, or a disk image file. It is only "
            "read, never written to."),
        this);
    intro->setWordWrap(true);
    intro->setTextFormat(Qt::PlainText);
    layout->addWidget(intro);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("diskList"));
    list_->setAccessibleName(QStringLiteral("Disks and partitions"));
    list_->setColumnCount(4);
    list_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Details"),
                            QStringLiteral("Device")});
    list_->setRootIsDecorated(true);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    list_->header()->setSectionResizeMode(2, QHeaderView::Stretch);
    list_->header()->setSectionResizeMode(3, QHeaderView::ResizeToContents);
    layout->addWidget(list_, 1);

    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("diskListNotice"));
    notice_->setWordWrap(true);
    notice_->setTextFormat(Qt::PlainText);
    notice_->setText(QStringLiteral("Reading the list of disks..."));
    layout->addWidget(notice_);

    auto* buttons = new QHBoxLayout;
    image_ = new QPushButton(QStringLiteral("Image File..."), this);
    image_->setAccessibleName(image_->text());
    image_->setAutoDefault(false);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setAccessibleName(cancel_->text());
    cancel_->setAutoDefault(false);
    choose_ = new QPushButton(QStringLiteral("Choose"), this);
    choose_->setAccessibleName(choose_->text());
    choose_->setDefault(true);
    buttons->addWidget(image_);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(choose_);
    layout->addLayout(buttons);

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setInterval(kRefreshIntervalMs);
    connect(refreshTimer_, &QTimer::timeout, this, [this] { catalogue_->refresh(); });
    connect(catalogue_.get(), &DiskCatalogue::changed, this, &DiskPickerDialog::fill);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &DiskPickerDialog::updateChooseButton);
    connect(list_, &QTreeWidget::itemActivated, this, &DiskPickerDialog::chooseSelected);
    connect(choose_, &QPushButton::clicked, this, &DiskPickerDialog::chooseSelected);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(image_, &QPushButton::clicked, this, &DiskPickerDialog::chooseImage);
    updateChooseButton();
}

DiskPickerDialog::~DiskPickerDialog() = default;

void DiskPickerDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    catalogue_->refresh();
    refreshTimer_->start();
}

void DiskPickerDialog::hideEvent(QHideEvent* event) {
    refreshTimer_->stop();
    QDialog::hideEvent(event);
}

void DiskPickerDialog::fill() {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    const QString selectedPath =
        selected.isEmpty() ? QString() : selected.first()->data(0, kPathRole).toString();
    const bool hadFocus = list_->hasFocus();

    list_->setUpdatesEnabled(false);
    list_->clear();
    QTreeWidgetItem* reselect = nullptr;
    for (const DiskCatalogue::Disk& disk : catalogue_->disks()) {
        const QString name = DiskCatalogue::diskName(disk.device);
        const QStringList details = diskDetails(disk);
        QStringList spoken{name, formatByteCount(disk.device.size)};
        spoken += details;
        auto* row = makeRow(name, disk.device.size, details, disk.device.path, name,
                            spoken.join(QStringLiteral(", ")));
        if (disk.systemDisk)
            for (int column = 0; column < 4; ++column)
                row->setForeground(column, list_->palette().brush(QPalette::Disabled, QPalette::Text));
        list_->addTopLevelItem(row);
        if (disk.device.path == selectedPath)
            reselect = row;
        for (const BlockDevice& partition : disk.partitions) {
            QStringList partDetails = partitionDetails(partition);
            QStringList partSpoken{partitionTitle(partition)};
            partSpoken += partDetails;
            partSpoken.append(formatByteCount(partition.size));
            if (const QString mounts = mountWording(partition); !mounts.isEmpty()) {
                partDetails.append(mounts);
                partSpoken.append(mounts);
            }
            auto* child = makeRow(partitionTitle(partition), partition.size, partDetails, partition.path,
                                  DiskCatalogue::partitionName(disk.device, partition),
                                  partSpoken.join(QStringLiteral(", ")));
            row->addChild(child);
            if (partition.path == selectedPath)
                reselect = child;
        }
        row->setExpanded(true);
    }
    if (reselect) {
        list_->setCurrentItem(reselect);
        reselect->setSelected(true);
    }
    list_->setUpdatesEnabled(true);
    if (hadFocus)
        list_->setFocus();

    if (!catalogue_->problem().isEmpty())
        notice_->setText(catalogue_->problem());
    else if (catalogue_->disks().isEmpty())
        notice_->setText(QStringLiteral("No disks were found. A disk image file can still be chosen."));
    else
        notice_->setText(QStringLiteral("The list follows disks as they are plugged in or removed."));
    updateChooseButton();
    emit listed();
}

void DiskPickerDialog::updateChooseButton() {
    choose_->setEnabled(!list_->selectedItems().isEmpty() && !viewModel_->isRecovering());
}

void DiskPickerDialog::chooseSelected() {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty() || viewModel_->isRecovering())
        return;
    viewModel_->selectDiskSource(selected.first()->data(0, kPathRole).toString(),
                                 selected.first()->data(0, kNameRole).toString());
    accept();
}

void DiskPickerDialog::chooseImage() {
    const PanelRequest request{QStringLiteral("Select Disk Image"),
                               QDir::homePath(),
                               false,
                               {QStringLiteral("Disk images (*.img *.dd *.raw *.iso *.bin *.dmg *.001)"),
                                QStringLiteral("All files (*)")}};
    viewModel_->platform().panels->chooseFile(
        request, [dialog = QPointer<DiskPickerDialog>(this),
                  weak = std::weak_ptr<RecoveryViewModel>(viewModel_)](std::optional<QString> chosen) {
            auto model = weak.lock();
            if (!chosen || !model || model->isRecovering())
                return;
            model->selectDiskSource(*chosen, QString());
            if (dialog)
                dialog->accept();
        });
}

} // namespace vellorin
