#include "InformationLine.h"

namespace tarvo::ui {

InformationLine::InformationLine(const QString& pageTitle, QWidget* parent)
    : ValueLabel(QString(), pageTitle + " information", parent) {
    setFrameShape(QFrame::StyledPanel);
}

} // namespace tarvo::ui
