#pragma once

#include "link/PortSelection.h"

#include <QWidget>

class QPushButton;
class QRadioButton;
class QVBoxLayout;

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

class AverageGroup;
class BaudGroup;
class ParameterGroup;
class ValueLabel;

// One device-family page (MXR 21xx, MXR 23xx, MXR 41xx, TCW 43xx): the rate the set-up writes into the
// device, the port/baud caption, the set-up and default buttons and Find Device, and the family's
// configuration groups (filter, check-weigher, dosing, loss weigher) as the connected model has them.
class DeviceFamilyPage : public QWidget {
    Q_OBJECT
public:
    DeviceFamilyPage(FamilyPage family, MainController& controller, QWidget* parent = nullptr);

private:
    void sync();
    void syncGroups();
    void addMxr41Groups(QVBoxLayout* column);
    void addTcw43Groups(QVBoxLayout* column);
    FamilyPage family_;
    MainController& c_;
    BaudGroup* baud_;
    QPushButton* setup_;
    QPushButton* loadDefault_;
    QPushButton* calibrate_;
    QPushButton* filterAdvisor_;
    AverageGroup* average_ = nullptr;
    QWidget* modeLevelRate_ = nullptr;
    QWidget* trackBarFilter_ = nullptr;
    ParameterGroup* checkWeigher_ = nullptr;
    ParameterGroup* dosing_ = nullptr;
    ParameterGroup* lossWeigher_ = nullptr;
    QRadioButton* trailingEdge_ = nullptr;
    QRadioButton* leadingEdge_ = nullptr;
    ValueLabel* updateTime_ = nullptr;
    ValueLabel* configuration_ = nullptr;
};

} // namespace tarvo::ui
