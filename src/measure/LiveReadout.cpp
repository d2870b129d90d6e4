#include "LiveReadout.h"

namespace tarvo {

void LiveReadout::restoreAutotransmit(const QString& selection) {
    if (selection != QLatin1String("SG") && selection != QLatin1String("SN"))
        return;
    autotransmit_ = selection;
    emit autotransmitChanged(autotransmit_);
}

void LiveReadout::setText(const QString& text) {
    if (text_ == text)
        return;
    text_ = text;
    emit textChanged(text_);
}

} // namespace tarvo
