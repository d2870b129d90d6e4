#pragma once

#include <QByteArray>
#include <QObject>

namespace tarvo {

class CommandLink;
class Discovery;
class Operator;
class PortSelection;

// The family pages' maintenance buttons: set-up (full duplex and the page's set-up baud written into
// the device, stored, reset, found again) and "Load Default" (factory defaults, reset, found again).
class DeviceSetup : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kSetupQuestion = "Do you want to setup baudrate and fullduplex?";
    static constexpr const char* kSetupFailed = "Device setup NOT complete - Communikation error!";
    static constexpr const char* kResetting = "Software reset.... Please wait!";
    static constexpr const char* kResetFailed = "Communication error... Power on and off and try again!";
    static constexpr const char* kDefaultQuestion = "Do you want to load factory defaults?";
    static constexpr const char* kDefaultFailed = "Communication eror - Default not loaded!";
    static constexpr const char* kDefaultLoaded = "Default loaded successfylly!";
    // The device needs this long after "SR" before it listens again.
    static constexpr int kResetPauseMs = 8000;

    DeviceSetup(CommandLink& comm, PortSelection& ports, Discovery& discovery, Operator& op,
                QObject* parent = nullptr);

    // "Setup MXR" / "Setup Device".
    void setupClicked();
    // "Load Default".
    void loadDefaultClicked();

signals:
    // The page control is locked for the whole operation, the reset pause included.
    void pageControlEnabledRequested(bool enabled);

private:
    bool acknowledged(const QByteArray& line, int timeLimitMs);
    // "SR" on the last used port; after the pause the device is looked for again.
    void resetAndFind();

    CommandLink& link_;
    PortSelection& ports_;
    Discovery& discovery_;
    Operator& op_;
};

} // namespace tarvo
