#pragma once

#include "ui/PanelSurface.h"

#include <memory>

class QCheckBox;
class QPushButton;

namespace vellorin {

class RecoveryViewModel;
class StepButtonLabel;

// The two buttons that drive a recovery and the two options under them.
class StepsPanel : public PanelSurface {
    Q_OBJECT
  public:
    explicit StepsPanel(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent = nullptr);

    QPushButton* sourceButton() const { return sourceButton_; }
    QPushButton* startButton() const { return startButton_; }
    QCheckBox* recoverAllFilesToggle() const { return recoverAllFiles_; }
    QCheckBox* showLogsToggle() const { return showLogs_; }
    StepButtonLabel* sourceLabel() const { return sourceLabel_; }
    StepButtonLabel* startLabel() const { return startLabel_; }

    void setShowLog(bool on);

  signals:
    void showLogToggled(bool on);

  private:
    void refresh();

    std::shared_ptr<RecoveryViewModel> viewModel_;
    QPushButton* sourceButton_;
    QPushButton* startButton_;
    StepButtonLabel* sourceLabel_;
    StepButtonLabel* startLabel_;
    QWidget* togglesRow_;
    QCheckBox* recoverAllFiles_;
    QCheckBox* showLogs_;
};

} // namespace vellorin
