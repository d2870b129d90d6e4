#include "BaudGroup.h"

#include "Controls.h"
#include "protocol/CommandTable.h"

#include <QVBoxLayout>

namespace tarvo::ui {

BaudGroup::BaudGroup(QWidget* parent) : QGroupBox("Baudrate", parent) {
    setAccessibleName("Baudrate");
    auto* layout = new QVBoxLayout(this);
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        const int rate = kBaudRates[i];
        buttons_[i] = captionedOption(QString::number(rate), this);
        layout->addWidget(buttons_[i]);
        onOperatorChoice(buttons_[i], this, [this, rate] { emit rateClicked(rate); });
    }
}

QRadioButton* BaudGroup::button(int baud) const {
    for (std::size_t i = 0; i < kBaudRates.size(); ++i)
        if (kBaudRates[i] == baud)
            return buttons_[i];
    return nullptr;
}

void BaudGroup::showRate(int baud) {
    if (QRadioButton* b = button(baud))
        showChecked(b, true);
}

} // namespace tarvo::ui
