#include "InformationLine.h"

namespace tarvo::ui {

InformationLine::InformationLine(const QString& pageTitle, QWidget* parent)
    : ValueLabel(QString(), pageTitle + " information", parent) {
    setFrameShape(QFrame::StyledPanel);
    // A long message wraps instead of widening the window past a small screen; the line is never
    // squeezed below its text.
    setWordWrap(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
}

} // namespace tarvo::ui
