#include "TerminalPage.h"

#include "app/MainController.h"
#include "ui/widgets/BaudGroup.h"
#include "ui/widgets/ComPortGroup.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/FindDeviceButton.h"
#include "ui/widgets/PortBaudCaption.h"
#include "ui/widgets/SearchActivity.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tarvo::ui {

TerminalPage::TerminalPage(MainController& controller, QWidget* parent) : QWidget(parent), c_(controller) {
    auto* layout = new QHBoxLayout(this);
    comPorts_ = new ComPortGroup("COM port", false, c_, this);
    layout->addWidget(comPorts_);
    baud_ = new BaudGroup(this);
    connect(baud_, &BaudGroup::rateClicked, this,
            [this](int rate) { whenLinkIdle(c_, [this, rate] { c_.ports().baudClicked(rate); }); });
    connect(&c_.ports(), &PortSelection::changed, this, [this] { baud_->showRate(c_.ports().baudChoice()); });
    baud_->showRate(c_.ports().baudChoice());
    layout->addWidget(baud_);
    auto* right = new QVBoxLayout;
    right->addWidget(new PortBaudCaption(c_.ports(), this));
    right->addWidget(new SearchActivity(c_.ports(), this));
    right->addWidget(new FindDeviceButton(c_, this));
    right->addStretch();
    layout->addLayout(right);
}

} // namespace tarvo::ui
