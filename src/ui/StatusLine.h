#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vellorin {

class ProgressSpinner;
class RecoveryViewModel;
class ResultsSorting;

// The status message in its colour, behind a spinner while a recovery runs, or a progress bar
// once the share of the search is known; beside it how far the run has come, and Stop.
class StatusLine : public QWidget {
  public:
    StatusLine(std::shared_ptr<RecoveryViewModel> viewModel, std::shared_ptr<ResultsSorting> sorting,
               QWidget* parent = nullptr);

    QLabel* messageLabel() const { return message_; }
    ProgressSpinner* spinner() const { return spinner_; }
    QProgressBar* progressBar() const { return bar_; }
    QLabel* progressLabel() const { return detail_; }
    QPushButton* stopButton() const { return stop_; }

  private:
    void refresh();
    void refreshProgress();

    std::shared_ptr<RecoveryViewModel> viewModel_;
    std::shared_ptr<ResultsSorting> sorting_;
    ProgressSpinner* spinner_;
    QProgressBar* bar_;
    QLabel* message_;
    QLabel* detail_;
    QPushButton* stop_;
};

} // namespace vellorin
