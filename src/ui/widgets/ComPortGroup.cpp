#include "ComPortGroup.h"

#include "Controls.h"
#include "app/MainController.h"

#include <QVBoxLayout>

namespace tarvo::ui {

ComPortGroup::ComPortGroup(const QString& title, bool withCanBus, MainController& controller, QWidget* parent)
    : QGroupBox(title, parent), c_(controller) {
    setAccessibleName(title);
    auto* layout = new QVBoxLayout(this);
    for (int n = 1; n <= 8; ++n) {
        QRadioButton* b = captionedOption(QStringLiteral("COM%1").arg(n), this);
        com_[static_cast<std::size_t>(n - 1)] = b;
        layout->addWidget(b);
        onOperatorChoice(b, this, [this, n] { whenLinkIdle(c_, [this, n] { c_.ports().comClicked(n); }); });
    }
    if (withCanBus) {
        can_ = captionedOption("CAN-bus", this);
        layout->addWidget(can_);
        onOperatorChoice(can_, this, [this] { whenLinkIdle(c_, [this] { c_.ports().canBusClicked(); }); });
    }
    connect(&c_.ports(), &PortSelection::changed, this, &ComPortGroup::sync);
    sync();
}

void ComPortGroup::sync() {
    const PortSelection& p = c_.ports();
    for (int n = 1; n <= 8; ++n) {
        QRadioButton* b = comButton(n);
        const QString path = c_.comPortPath(n);
        b->setToolTip(path.isEmpty() ? QStringLiteral("no port") : path);
        b->setEnabled(c_.portProbed(n));
        if (!p.canChosen() && p.comChoice() == n)
            showChecked(b, true);
    }
    if (can_ && p.canChosen())
        showChecked(can_, true);
}

} // namespace tarvo::ui
