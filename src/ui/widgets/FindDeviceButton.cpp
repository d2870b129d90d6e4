#include "FindDeviceButton.h"

#include "Controls.h"
#include "app/MainController.h"

namespace tarvo::ui {

bool deviceButtonsFree(MainController& c) {
    return c.discovery().buttonGroupEnabled() && !c.acquisition().buttonGroupLocked();
}

FindDeviceButton::FindDeviceButton(MainController& controller, QWidget* parent)
    : FindDeviceButton(
          controller, [&controller] { controller.discovery().findDeviceClicked(); }, parent) {}

FindDeviceButton::FindDeviceButton(MainController& controller, std::function<void()> search, QWidget* parent)
    : QPushButton("Find Device", parent), c_(controller) {
    setAccessibleName(text());
    connect(this, &QPushButton::clicked, this, [this, search] { whenLinkIdle(c_, search); });
    connect(&c_.discovery(), &Discovery::changed, this, &FindDeviceButton::followLocks);
    connect(&c_.acquisition(), &Acquisition::changed, this, &FindDeviceButton::followLocks);
    followLocks();
}

void FindDeviceButton::followLocks() {
    setEnabled(deviceButtonsFree(c_));
}

} // namespace tarvo::ui
