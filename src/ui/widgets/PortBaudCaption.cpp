#include "PortBaudCaption.h"

#include "link/PortSelection.h"

namespace tarvo::ui {

PortBaudCaption::PortBaudCaption(PortSelection& ports, QWidget* parent)
    : ValueLabel(ports.portBaudCaption(), "Port and baud", parent) {
    connect(&ports, &PortSelection::portBaudCaptionChanged, this, &QLabel::setText);
}

} // namespace tarvo::ui
