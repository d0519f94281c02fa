#pragma once

#include "ui/PanelSurface.h"

namespace vellorin {

class ElidedLabel;
class IconLabel;

// One of the three cards under the header: an icon and title over a one-line value, and an
// optional line that names the value.
class StatusCard : public PanelSurface {
  public:
    StatusCard(const QString& symbolName, const QString& title, const QColor& valueColor,
               QWidget* parent = nullptr);

    void setValue(const QString& value);
    QString value() const;
    QString displayedValue() const;
    // A second, smaller line under the value; hidden while empty.
    void setDetail(const QString& detail);
    QString detail() const;

  private:
    ElidedLabel* value_;
    ElidedLabel* detail_;
};

} // namespace vellorin
