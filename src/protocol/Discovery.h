#pragma once

#include "link/CommandLink.h"
#include "link/PortSelection.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>
#include <functional>

namespace tarvo {

class Operator;

// Finding the device on the ports and rates, identifying it by "ID" and "IV", and showing the
// device-family page that fits its identity number. Holds the Options page's device, firmware and port
// labels, the "Device addr:" choice, the family pages' captions and extra controls, and the Display
// page's button-group lock; the windows mirror them.
class Discovery : public QObject {
    Q_OBJECT
public:
    static constexpr int kNoIdentity = 9999;
    static constexpr const char* kSearching = "Searching for device.... please wait!";
    static constexpr const char* kNotFound = "Device: not found!... please reset device and try again!";
    static constexpr const char* kDeviceNotFoundLabel = "Device: not found!";
    static constexpr const char* kFirmwareUnknownLabel = "Firmware:?";
    static constexpr const char* kPortUnknownLabel = "COM?";
    static constexpr const char* kStatusError = "Communication error!... Check connections!";

    Discovery(CommandLink& comm, PortSelection& ports, Operator& op, QObject* parent = nullptr);

    // The command that restarts the selected autotransmit stream after a search ("SG\r" or "SN\r").
    void setStreamCommand(std::function<QByteArray()> command) { streamCommand_ = std::move(command); }
    // The terminal takes the device's replies itself; a search then leaves the stream alone.
    void setTerminalActive(bool on) { terminalActive_ = on; }
    bool terminalActive() const { return terminalActive_; }

    // Every Find Device button: a search, and when the device says it is number 0, "G" and a second one.
    void findDeviceClicked();
    void findDevice();
    // Tries the five rates on the serial port's current number; nothing when a device was already found.
    void searchBaud();
    void selectFamilyPage();
    // The status query: index 0 no motion (1), 1 bit 2, 2 bit 4, 3..5 bits 8, 16, 32.
    bool statusBit(int index);

    bool found() const { return found_; }
    int deviceIdentity() const { return identity_; }
    const QString& firmwareVersion() const { return firmware_; }
    bool isSearching() const { return searching_; }

    // "None" or "00".."63".
    const QString& deviceAddress() const { return deviceAddress_; }
    void setDeviceAddress(const QString& address);

    const QString& deviceLabel() const { return deviceLabel_; }
    const QString& firmwareLabel() const { return firmwareLabel_; }
    const QString& portLabel() const { return portLabel_; }
    bool buttonGroupEnabled() const { return buttonGroupEnabled_; }
    QString familyCaption(FamilyPage page) const { return captions_[static_cast<int>(page)]; }
    bool logGetDosedVisible() const { return logGetDosedVisible_; }
    bool valueDisplayVisible() const { return valueDisplayVisible_; }

signals:
    // Any of the labels, captions, locks or visibilities above changed.
    void changed();
    // selectFamilyPage shows or hides a device-family tab.
    void familyTabRequested(FamilyPage page, bool visible);
    // Nothing was found: the firmware programming state becomes 3.
    void firmwareProgrammingStateChanged(int state);
    // A device answered; when the terminal is not active its stream has been started with streamCommand.
    void deviceFound(bool streamStarted);

private:
    QByteArray ask(const QByteArray& line, const QByteArray& start, int timeLimitMs);
    bool addressed() const;
    // One rate try: progress text, switch, lone "\r", the address when asked for, "br" + rate. Sets found
    // when the device confirmed.
    void tryRate(int baud, bool withAddress);
    void setButtonGroupEnabled(bool on);
    QString canLinkText() const;

    CommandLink& link_;
    PortSelection& ports_;
    Operator& op_;
    std::function<QByteArray()> streamCommand_;
    bool terminalActive_ = false;
    bool found_ = false;
    bool searching_ = false;
    int identity_ = kNoIdentity;
    QString firmware_;
    QString deviceAddress_ = QStringLiteral("None");
    QString deviceLabel_ = QString::fromLatin1(kDeviceNotFoundLabel);
    QString firmwareLabel_ = QString::fromLatin1(kFirmwareUnknownLabel);
    QString portLabel_ = QString::fromLatin1(kPortUnknownLabel);
    bool buttonGroupEnabled_ = true;
    std::array<QString, kFamilyPages> captions_{QStringLiteral("MXR 21xx"), QStringLiteral("MXR 23xx"),
                                                QStringLiteral("MXR 41xx"), QStringLiteral("TCW 43xx")};
    bool logGetDosedVisible_ = false;
    bool valueDisplayVisible_ = false;
};

} // namespace tarvo
