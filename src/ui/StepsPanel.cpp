#include "ui/StepsPanel.h"

#include "ui/CheckBoxStyle.h"
#include "ui/DiskPickerDialog.h"
#include "ui/StepButtonLabel.h"
#include "ui/Theme.h"
#include "workflow/ViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vellorin {

namespace {

// A push button whose face is a StepButtonLabel. Its size comes from that label, which a
// plain QPushButton would ignore in favour of its (empty) text.
class StepButton final : public QPushButton {
  public:
    StepButton(StepButtonLabel* label, QWidget* parent) : QPushButton(parent) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(14, 10, 14, 10);
        layout->addWidget(label);
        label->setParent(this);
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    QSize sizeHint() const override { return layout()->sizeHint().expandedTo({0, 56}); }
    QSize minimumSizeHint() const override { return layout()->minimumSize().expandedTo({0, 56}); }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        return std::max(56, layout()->totalHeightForWidth(width));
    }
};

QPalette prominentPalette(QPalette p) {
    const QColor fill = theme::accent();
    QColor disabledFill = fill;
    disabledFill.setAlphaF(0.35);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Button, fill);
        p.setColor(group, QPalette::ButtonText, Qt::white);
    }
    p.setColor(QPalette::Disabled, QPalette::Button, disabledFill);
    return p;
}

} // namespace

StepsPanel::StepsPanel(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent)
    : PanelSurface(0.8, 12, parent), viewModel_(std::move(viewModel)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);

    auto* heading = new QLabel(QStringLiteral("Steps"), this);
    heading->setFont(theme::headline());
    theme::setTextColor(heading, theme::primaryText());
    layout->addWidget(heading);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    sourceLabel_ = new StepButtonLabel(QStringLiteral("Select Data Source"), QStringLiteral("internaldrive"),
                                       QStringLiteral("Choose a volume or folder"), theme::primaryText(),
                                       theme::secondaryText(), this);
    sourceButton_ = new StepButton(sourceLabel_, this);
    sourceButton_->setObjectName(QStringLiteral("selectSourceButton"));
    startLabel_ = new StepButtonLabel(
        QStringLiteral("Select Save Location & Start"), QStringLiteral("play.fill"),
        QStringLiteral("Must be different from source"), Qt::white, QColor(255, 255, 255, 200), this);
    startButton_ = new StepButton(startLabel_, this);
    startButton_->setObjectName(QStringLiteral("selectSaveButton"));
    startButton_->setPalette(prominentPalette(startButton_->palette()));
    // Buttons carry no text of their own; assistive technology reads the label's.
    startButton_->setAccessibleName(startLabel_->title());
    startButton_->setAccessibleDescription(startLabel_->subtitle());
    auto* diskLabel =
        new StepButtonLabel(QStringLiteral("Select Disk or Image"), QStringLiteral("externaldrive"),
                            QStringLiteral("A disk, a partition or an image"), theme::primaryText(),
                            theme::secondaryText(), this);
    diskButton_ = new StepButton(diskLabel, this);
    diskButton_->setObjectName(QStringLiteral("selectDiskButton"));
    diskButton_->setAccessibleName(diskLabel->title());
    diskButton_->setAccessibleDescription(diskLabel->subtitle());
    // The keyboard follows the row from left to right.
    setTabOrder(sourceButton_, diskButton_);
    setTabOrder(diskButton_, startButton_);
    buttons->addWidget(sourceButton_, 2);
    buttons->addWidget(diskButton_, 1);
    buttons->addWidget(startButton_, 2);
    layout->addLayout(buttons);

    togglesRow_ = new QWidget(this);
    auto* toggles = new QHBoxLayout(togglesRow_);
    toggles->setContentsMargins(0, 0, 0, 0);
    recoverAllFiles_ = new QCheckBox(QStringLiteral("Recover all file types"), togglesRow_);
    recoverAllFiles_->setObjectName(QStringLiteral("recoverAllFilesToggle"));
    recoverAllFiles_->setAccessibleName(recoverAllFiles_->text());
    showLogs_ = new QCheckBox(QStringLiteral("Show Logs"), togglesRow_);
    showLogs_->setObjectName(QStringLiteral("showLogsToggle"));
    showLogs_->setAccessibleName(showLogs_->text());
    auto* checkBoxStyle = new CheckBoxStyle;
    checkBoxStyle->setParent(this);
    recoverAllFiles_->setStyle(checkBoxStyle);
    showLogs_->setStyle(checkBoxStyle);
    toggles->addWidget(recoverAllFiles_);
    toggles->addStretch(1);
    toggles->addWidget(showLogs_);
    layout->addWidget(togglesRow_);

    scanRow_ = new QWidget(this);
    scanRow_->setObjectName(QStringLiteral("scanOptionsRow"));
    scanRow_->setAccessibleName(QStringLiteral("Scan options"));
    auto* scan = new QHBoxLayout(scanRow_);
    scan->setContentsMargins(0, 0, 0, 0);
    auto* scanHeading = new QLabel(QStringLiteral("Scan options:"), scanRow_);
    theme::setTextColor(scanHeading, theme::secondaryText());
    auto* lookForLabel = new QLabel(QStringLiteral("Look for"), scanRow_);
    lookFor_ = new QComboBox(scanRow_);
    lookFor_->setObjectName(QStringLiteral("lookForChoice"));
    lookFor_->setAccessibleName(QStringLiteral("Look for"));
    lookForLabel->setBuddy(lookFor_);
    const std::pair<const char*, QList<FileFamily>> kinds[] = {
        {"Every kind PhotoRec knows", {}},
        {"Pictures", {FileFamily::Pictures}},
        {"Videos", {FileFamily::Videos}},
        {"Pictures and videos", {FileFamily::Pictures, FileFamily::Videos}},
        {"Audio", {FileFamily::Audio}},
        {"Documents", {FileFamily::Documents}},
        {"Archives", {FileFamily::Archives}},
    };
    for (const auto& [text, families] : kinds)
        lookFor_->addItem(QString::fromLatin1(text), ScanOptions{families, false}.familiesKey());
    auto* whereLabel = new QLabel(QStringLiteral("Where to look"), scanRow_);
    where_ = new QComboBox(scanRow_);
    where_->setObjectName(QStringLiteral("whereChoice"));
    where_->setAccessibleName(QStringLiteral("Where to look"));
    whereLabel->setBuddy(where_);
    where_->addItem(QStringLiteral("Whole space"), false);
    where_->addItem(QStringLiteral("Free space only"), true);
    where_->setItemData(
        1,
        QStringLiteral("Only the unused space of the file system: faster, and files still there are not "
                       "recovered again"),
        Qt::ToolTipRole);
    scan->addWidget(scanHeading);
    scan->addSpacing(8);
    scan->addWidget(lookForLabel);
    scan->addWidget(lookFor_);
    scan->addSpacing(12);
    scan->addWidget(whereLabel);
    scan->addWidget(where_);
    scan->addSpacing(12);
    namesFirst_ = new QCheckBox(QStringLiteral("Names first"), scanRow_);
    namesFirst_->setObjectName(QStringLiteral("namesFirstToggle"));
    namesFirst_->setAccessibleName(namesFirst_->text());
    namesFirst_->setAccessibleDescription(
        QStringLiteral("Restore deleted files with their names and folders from the file system's records "
                       "before the deep search"));
    namesFirst_->setToolTip(namesFirst_->accessibleDescription());
    namesFirst_->setStyle(checkBoxStyle);
    scan->addWidget(namesFirst_);
    scan->addStretch(1);
    layout->addWidget(scanRow_);

    RecoveryViewModel* model = viewModel_.get();
    connect(sourceButton_, &QPushButton::clicked, model, &RecoveryViewModel::selectSourceLocation);
    connect(startButton_, &QPushButton::clicked, model, &RecoveryViewModel::selectSaveLocationAndStart);
    connect(recoverAllFiles_, &QCheckBox::toggled, model, &RecoveryViewModel::setRecoverAllFiles);
    connect(diskButton_, &QPushButton::clicked, this, &StepsPanel::openDiskPicker);
    connect(lookFor_, &QComboBox::activated, this, &StepsPanel::applyScanChoice);
    connect(where_, &QComboBox::activated, this, &StepsPanel::applyScanChoice);
    connect(namesFirst_, &QCheckBox::toggled, this, &StepsPanel::applyScanChoice);
    connect(showLogs_, &QCheckBox::toggled, this, &StepsPanel::showLogToggled);
    for (auto signal :
         {&RecoveryViewModel::selectedDrivePathChanged, &RecoveryViewModel::isRecoveringChanged,
          &RecoveryViewModel::recoverAllFilesChanged, &RecoveryViewModel::selectedSourceNameChanged,
          &RecoveryViewModel::deepRecoveryAvailableChanged, &RecoveryViewModel::scanOptionsChanged})
        connect(model, signal, this, &StepsPanel::refresh);
    refresh();
}

void StepsPanel::setShowLog(bool on) {
    const QSignalBlocker blocker(showLogs_);
    showLogs_->setChecked(on);
}

DiskPickerDialog* StepsPanel::diskPicker() const {
    return diskPicker_.data();
}

void StepsPanel::openDiskPicker() {
    if (diskPicker_) {
        diskPicker_->raise();
        diskPicker_->activateWindow();
        return;
    }
    diskPicker_ = new DiskPickerDialog(viewModel_, window());
    diskPicker_->setAttribute(Qt::WA_DeleteOnClose);
    diskPicker_->open();
}

void StepsPanel::applyScanChoice() {
    ScanOptions options;
    options.families = ScanOptions::familiesFromKey(lookFor_->currentData().toString());
    options.freeSpaceOnly = where_->currentData().toBool();
    options.namesFirst = namesFirst_->isChecked();
    viewModel_->setScanOptions(options);
}

void StepsPanel::refresh() {
    const auto& path = viewModel_->selectedDrivePath();
    const bool recovering = viewModel_->isRecovering();
    sourceLabel_->setTitle(path ? QStringLiteral("Selected") : QStringLiteral("Select Data Source"));
    const QString& name = viewModel_->selectedSourceName();
    sourceLabel_->setSubtitle(!path            ? QStringLiteral("Choose a volume or folder")
                              : name.isEmpty() ? *path
                                               : name + QStringLiteral(" \u2014 ") + *path);
    sourceButton_->setAccessibleName(sourceLabel_->title());
    sourceButton_->setAccessibleDescription(sourceLabel_->subtitle());
    sourceButton_->setEnabled(!recovering);
    startButton_->setEnabled(path.has_value() && !recovering);
    togglesRow_->setEnabled(!recovering);
    diskButton_->setEnabled(!recovering);
    scanRow_->setVisible(viewModel_->deepRecoveryAvailable());
    scanRow_->setEnabled(!recovering);
    const ScanOptions& options = viewModel_->scanOptions();
    int kind = lookFor_->findData(options.familiesKey());
    if (kind < 0) {
        // Kept from elsewhere (the command line): shown as it is.
        QStringList names;
        for (const QString& key : options.familiesKey().split(QLatin1Char(',')))
            names.append(key.left(1).toUpper() + key.mid(1));
        lookFor_->addItem(names.join(QStringLiteral(", ")), options.familiesKey());
        kind = lookFor_->count() - 1;
    }
    lookFor_->setCurrentIndex(kind);
    where_->setCurrentIndex(options.freeSpaceOnly ? 1 : 0);
    if (namesFirst_->isChecked() != options.namesFirst) {
        const QSignalBlocker blocker(namesFirst_);
        namesFirst_->setChecked(options.namesFirst);
    }
    if (recoverAllFiles_->isChecked() != viewModel_->recoverAllFiles()) {
        const QSignalBlocker blocker(recoverAllFiles_);
        recoverAllFiles_->setChecked(viewModel_->recoverAllFiles());
    }
}

} // namespace vellorin
