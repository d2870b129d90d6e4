#include "ValueLabel.h"

namespace tarvo::ui {

ValueLabel::ValueLabel(const QString& text, const QString& what, QWidget* parent) : QLabel(text, parent) {
    setObjectName(what);
    setAccessibleDescription(what);
}

} // namespace tarvo::ui
