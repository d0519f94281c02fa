#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;

namespace vellorin {

class Settings;

// The quick-start sheet shown over the window on first use. However it goes away
// ("Got it", Return, Escape, the window manager's close) it reports dismissed().
class QuickStartSheet : public QDialog {
    Q_OBJECT
  public:
    QuickStartSheet(std::shared_ptr<Settings> settings, QWidget* parent);

    QPushButton* gotItButton() const { return gotIt_; }
    QLabel* titleLabel() const { return title_; }
    QList<QWidget*> instructions() const { return instructions_; }

    QSize sizeHint() const override;

  signals:
    void dismissed();

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void gotIt();

    std::shared_ptr<Settings> settings_;
    QPushButton* gotIt_;
    QLabel* title_;
    QList<QWidget*> instructions_;
};

} // namespace vellorin
