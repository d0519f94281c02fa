#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace vellorin {

class DiskCatalogue;
class RecoveryViewModel;

// Lists the machine's disks and partitions, read again every two seconds while it is open,
// and offers an image file instead; the choice becomes the recovery's source.
class DiskPickerDialog : public QDialog {
    Q_OBJECT
  public:
    DiskPickerDialog(std::shared_ptr<RecoveryViewModel> viewModel, QWidget* parent = nullptr);
    ~DiskPickerDialog() override;

    QTreeWidget* list() const { return list_; }
    QPushButton* chooseButton() const { return choose_; }
    QPushButton* imageButton() const { return image_; }
    QPushButton* cancelButton() const { return cancel_; }
    QLabel* notice() const { return notice_; }

    static constexpr int kRefreshIntervalMs = 2000;

  signals:
    // The list was filled from a reading of the disks.
    void listed();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void fill();
    void chooseSelected();
    void chooseImage();
    void updateChooseButton();

    std::shared_ptr<RecoveryViewModel> viewModel_;
    std::shared_ptr<DiskCatalogue> catalogue_;
    QTreeWidget* list_;
    QLabel* notice_;
    QPushButton* image_;
    QPushButton* choose_;
    QPushButton* cancel_;
    QTimer* refreshTimer_;
};

} // namespace vellorin
