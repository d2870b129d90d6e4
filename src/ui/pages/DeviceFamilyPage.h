#pragma once

#include "link/PortSelection.h"

#include <QWidget>

class QPushButton;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

class BaudGroup;

// One device-family page (MXR 21xx, MXR 23xx, MXR 41xx, TCW 43xx): the rate the set-up writes into the
// device, the port/baud caption, the set-up and default buttons and Find Device.
class DeviceFamilyPage : public QWidget {
    Q_OBJECT
public:
    DeviceFamilyPage(FamilyPage family, MainController& controller, QWidget* parent = nullptr);

private:
    void sync();
    FamilyPage family_;
    MainController& c_;
    BaudGroup* baud_;
    QPushButton* setup_;
    QPushButton* loadDefault_;
};

} // namespace tarvo::ui
