#pragma once

#include "ui/PanelSurface.h"

#include <memory>
#include <optional>

class QLabel;
class QListView;

namespace vellorin {

class RecoveredFileRow;
class RecoveredFilesModel;
class RecoveryViewModel;

// The files recovered so far, newest first, each with its size and an "Open" link that
// shows it in the file manager. Return on the current row opens it as well.
class RecoveredFilesPanel : public PanelSurface {
  public:
    explicit RecoveredFilesPanel(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent = nullptr);

    QLabel* headerLabel() const { return header_; }
    QLabel* scanningLabel() const { return scanning_; }
    QLabel* emptyLabel() const { return empty_; }
    QListView* listView() const { return list_; }
    RecoveredFilesModel* model() const { return model_; }
    RecoveredFileRow* rowDelegate() const { return row_; }

  private:
    void refreshHeader();
    void refreshRecovering();
    void reveal(const QModelIndex& index);

    std::shared_ptr<RecoveryViewModel> viewModel_;
    RecoveredFilesModel* model_;
    RecoveredFileRow* row_;
    QLabel* header_;
    QLabel* scanning_;
    QLabel* empty_;
    QListView* list_;
    std::optional<bool> showingEmpty_;
};

} // namespace vellorin
