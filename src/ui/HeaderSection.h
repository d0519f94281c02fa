#pragma once

#include <QWidget>

namespace vellorin {

// The product title and its one-line explanation.
class HeaderSection : public QWidget {
  public:
    explicit HeaderSection(QWidget* parent = nullptr);
};

} // namespace vellorin
