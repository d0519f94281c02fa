#pragma once

#include <QWidget>

#include <memory>

class QLabel;

namespace vellorin {

class ProgressSpinner;
class RecoveryViewModel;

// The status message in its colour, behind a spinner while a recovery runs.
class StatusLine : public QWidget {
  public:
    explicit StatusLine(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent = nullptr);

    QLabel* messageLabel() const { return message_; }
    ProgressSpinner* spinner() const { return spinner_; }

  private:
    void refresh();

    std::shared_ptr<RecoveryViewModel> viewModel_;
    ProgressSpinner* spinner_;
    QLabel* message_;
};

} // namespace vellorin
