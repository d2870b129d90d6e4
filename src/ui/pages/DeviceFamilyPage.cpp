#include "DeviceFamilyPage.h"

#include "app/MainController.h"
#include "ui/widgets/BaudGroup.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/FindDeviceButton.h"
#include "ui/widgets/PortBaudCaption.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tarvo::ui {

DeviceFamilyPage::DeviceFamilyPage(FamilyPage family, MainController& controller, QWidget* parent)
    : QWidget(parent), family_(family), c_(controller) {
    auto* layout = new QHBoxLayout(this);
    baud_ = new BaudGroup(this);
    connect(baud_, &BaudGroup::rateClicked, this, [this](int rate) {
        whenLinkIdle(c_, [this, rate] { c_.ports().familyBaudClicked(family_, rate); });
    });
    layout->addWidget(baud_);
    auto* right = new QVBoxLayout;
    right->addWidget(new PortBaudCaption(c_.ports(), this));
    setup_ = captionedButton(family == FamilyPage::Tcw43 ? "Setup Device" : "Setup MXR", this);
    connect(setup_, &QPushButton::clicked, this,
            [this] { whenLinkIdle(c_, [this] { c_.deviceSetup().setupClicked(); }); });
    right->addWidget(setup_);
    loadDefault_ = captionedButton("Load Default", this);
    connect(loadDefault_, &QPushButton::clicked, this,
            [this] { whenLinkIdle(c_, [this] { c_.deviceSetup().loadDefaultClicked(); }); });
    right->addWidget(loadDefault_);
    right->addWidget(new FindDeviceButton(c_, this));
    right->addStretch();
    layout->addLayout(right);

    connect(&c_.ports(), &PortSelection::changed, this, &DeviceFamilyPage::sync);
    connect(&c_.discovery(), &Discovery::changed, this, &DeviceFamilyPage::sync);
    connect(&c_.acquisition(), &Acquisition::changed, this, &DeviceFamilyPage::sync);
    sync();
}

void DeviceFamilyPage::sync() {
    baud_->showRate(c_.ports().familyBaud(family_));
    // Set-up and defaults reset the device: not while a search runs or a recording takes its stream.
    const bool free = deviceButtonsFree(c_);
    setup_->setEnabled(free);
    loadDefault_->setEnabled(free);
}

} // namespace tarvo::ui
