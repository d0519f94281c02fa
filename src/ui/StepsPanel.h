#pragma once

#include "ui/PanelSurface.h"

#include <QPointer>

#include <memory>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace vellorin {

class RecoveryViewModel;
class DiskPickerDialog;
class StepButtonLabel;

// The two buttons that drive a recovery, the disk chooser beside them, the two options under
// them and, when the engine will search, what it looks for and where.
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
    QPushButton* diskButton() const { return diskButton_; }
    QWidget* scanOptionsRow() const { return scanRow_; }
    QComboBox* lookForChoice() const { return lookFor_; }
    QComboBox* whereChoice() const { return where_; }
    QCheckBox* namesFirstChoice() const { return namesFirst_; }
    // The open disk chooser, if any.
    DiskPickerDialog* diskPicker() const;

    void setShowLog(bool on);

  signals:
    void showLogToggled(bool on);

  private:
    void refresh();
    void openDiskPicker();
    void applyScanChoice();

    std::shared_ptr<RecoveryViewModel> viewModel_;
    QPushButton* sourceButton_;
    QPushButton* startButton_;
    StepButtonLabel* sourceLabel_;
    StepButtonLabel* startLabel_;
    QWidget* togglesRow_;
    QCheckBox* recoverAllFiles_;
    QCheckBox* showLogs_;
    QPushButton* diskButton_;
    QWidget* scanRow_;
    QComboBox* lookFor_;
    QComboBox* where_;
    QCheckBox* namesFirst_;
    QPointer<DiskPickerDialog> diskPicker_;
};

} // namespace vellorin
