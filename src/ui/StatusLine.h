#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vellorin {

class ProgressSpinner;
class RecoveryViewModel;

// The status message in its colour, behind a spinner while a recovery runs, or a progress bar
// once the share of the search is known; beside it how far the run has come, and Stop.
class StatusLine : public QWidget {
  public:
    explicit StatusLine(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent = nullptr);

    QLabel* messageLabel() const { return message_; }
    ProgressSpinner* spinner() const { return spinner_; }
    QProgressBar* progressBar() const { return bar_; }
    QLabel* progressLabel() const { return detail_; }
    QPushButton* stopButton() const { return stop_; }

  private:
    void refresh();
    void refreshProgress();

    std::shared_ptr<RecoveryViewModel> viewModel_;
    ProgressSpinner* spinner_;
    QProgressBar* bar_;
    QLabel* message_;
    QLabel* detail_;
    QPushButton* stop_;
};

} // namespace vellorin
