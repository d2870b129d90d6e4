#include "PortBaudCaption.h"

#include "link/PortSelection.h"

#include <QFontMetrics>
#include <algorithm>

namespace tarvo::ui {

PortBaudCaption::PortBaudCaption(PortSelection& ports, QWidget* parent)
    : ValueLabel(ports.portBaudCaption(), "Port and baud", parent) {
    // The caption changes after the window has taken its size (the stored rate, a search's progress, a
    // device on the CAN bus). It keeps the room of the widest port and rate from the start, so that its
    // page never outgrows the window and scrolls; a CAN node and speed, wider still, take two lines.
    const QFontMetrics metrics = fontMetrics();
    setMinimumWidth(std::max(metrics.horizontalAdvance(QStringLiteral("COM8@115200 baud")),
                             metrics.horizontalAdvance(QStringLiteral("COM8@115200baud"))));
    setWordWrap(true);
    connect(&ports, &PortSelection::portBaudCaptionChanged, this, &QLabel::setText);
}

} // namespace tarvo::ui
