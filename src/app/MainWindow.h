#pragma once

#include <QMainWindow>

namespace vellorin {

// The application's one window with its menu; its content is set once launching is over.
class MainWindow : public QMainWindow {
  public:
    explicit MainWindow(QWidget* parent = nullptr);
};

} // namespace vellorin
