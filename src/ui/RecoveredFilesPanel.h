#pragma once

#include "ui/PanelSurface.h"

#include <memory>
#include <optional>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QToolButton;
class QWidget;

namespace vellorin {

class RecoveredFileRow;
class RecoveredFilesModel;
class RecoveryViewModel;
class ResultsSorting;
class ThumbnailCache;

// The files recovered so far, newest first, each with its size and an "Open" link that
// shows it in the file manager; Return or a double click opens the file itself. Above the
// rows: kind filters with their counts, an order and a search by name, and, once a deep
// search has ended, "Sort into Folders" and "Undo Sorting".
class RecoveredFilesPanel : public PanelSurface {
  public:
    RecoveredFilesPanel(std::shared_ptr<RecoveryViewModel> viewModel, std::shared_ptr<ResultsSorting> sorting,
                        QWidget* parent = nullptr);

    QLabel* headerLabel() const { return header_; }
    QLabel* showingLabel() const { return showing_; }
    QLabel* scanningLabel() const { return scanning_; }
    QLabel* emptyLabel() const { return empty_; }
    QListView* listView() const { return list_; }
    RecoveredFilesModel* model() const { return model_; }
    RecoveredFileRow* rowDelegate() const { return row_; }
    ThumbnailCache* thumbnails() const { return thumbnails_; }
    // All, Pictures, Videos, Audio, Documents, Archives, Other.
    QList<QToolButton*> kindButtons() const { return kindButtons_; }
    QComboBox* orderBox() const { return order_; }
    QLineEdit* searchField() const { return search_; }
    QPushButton* sortButton() const { return sortButton_; }
    QPushButton* undoButton() const { return undoButton_; }

  private:
    void refreshHeader();
    void refreshKinds();
    void refreshRecovering();
    void refreshSorting();
    void applyQuery();
    void prefetch();
    void reveal(const QModelIndex& index);
    void open(const QModelIndex& index);

    std::shared_ptr<RecoveryViewModel> viewModel_;
    std::shared_ptr<ResultsSorting> sorting_;
    RecoveredFilesModel* model_;
    RecoveredFileRow* row_;
    ThumbnailCache* thumbnails_;
    QLabel* header_;
    QLabel* showing_;
    QLabel* scanning_;
    QLabel* empty_;
    QWidget* filters_;
    QButtonGroup* kindGroup_;
    QList<QToolButton*> kindButtons_;
    QComboBox* order_;
    QLineEdit* search_;
    QPushButton* sortButton_;
    QPushButton* undoButton_;
    QListView* list_;
    std::optional<bool> showingEmpty_;
};

} // namespace vellorin
