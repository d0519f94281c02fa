#include "ui/StepsPanel.h"

#include "ui/CheckBoxStyle.h"
#include "ui/StepButtonLabel.h"
#include "ui/Theme.h"
#include "workflow/ViewController.h"

#include <QCheckBox>
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
    buttons->addWidget(sourceButton_, 1);
    buttons->addWidget(startButton_, 1);
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

    RecoveryViewModel* model = viewModel_.get();
    connect(sourceButton_, &QPushButton::clicked, model, &RecoveryViewModel::selectSourceLocation);
    connect(startButton_, &QPushButton::clicked, model, &RecoveryViewModel::selectSaveLocationAndStart);
    connect(recoverAllFiles_, &QCheckBox::toggled, model, &RecoveryViewModel::setRecoverAllFiles);
    connect(showLogs_, &QCheckBox::toggled, this, &StepsPanel::showLogToggled);
    for (auto signal : {&RecoveryViewModel::selectedDrivePathChanged, &RecoveryViewModel::isRecoveringChanged,
                        &RecoveryViewModel::recoverAllFilesChanged})
        connect(model, signal, this, &StepsPanel::refresh);
    refresh();
}

void StepsPanel::setShowLog(bool on) {
    const QSignalBlocker blocker(showLogs_);
    showLogs_->setChecked(on);
}

void StepsPanel::refresh() {
    const auto& path = viewModel_->selectedDrivePath();
    const bool recovering = viewModel_->isRecovering();
    sourceLabel_->setTitle(path ? QStringLiteral("Selected") : QStringLiteral("Select Data Source"));
    sourceLabel_->setSubtitle(path ? *path : QStringLiteral("Choose a volume or folder"));
    sourceButton_->setAccessibleName(sourceLabel_->title());
    sourceButton_->setAccessibleDescription(sourceLabel_->subtitle());
    sourceButton_->setEnabled(!recovering);
    startButton_->setEnabled(path.has_value() && !recovering);
    togglesRow_->setEnabled(!recovering);
    if (recoverAllFiles_->isChecked() != viewModel_->recoverAllFiles()) {
        const QSignalBlocker blocker(recoverAllFiles_);
        recoverAllFiles_->setChecked(viewModel_->recoverAllFiles());
    }
}

} // namespace vellorin
