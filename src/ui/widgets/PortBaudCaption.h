#pragma once

#include "ValueLabel.h"

namespace tarvo {
class PortSelection;
}

namespace tarvo::ui {

// The port/baud caption ("COM1@115200 baud"), the same on every page that shows it.
class PortBaudCaption : public ValueLabel {
    Q_OBJECT
public:
    explicit PortBaudCaption(PortSelection& ports, QWidget* parent = nullptr);
};

} // namespace tarvo::ui
