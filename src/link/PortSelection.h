#pragma once

#include "ComPortMap.h"
#include "CommandLink.h"

#include <QObject>
#include <QString>
#include <array>

namespace tarvo {

// The device-family pages that carry their own "Baudrate" group for the set-up.
enum class FamilyPage { Mxr21 = 0, Mxr23 = 1, Mxr41 = 2, Tcw43 = 3 };
inline constexpr int kFamilyPages = 4;

// The operator's choice of link: COM1..COM8 at one of five rates, or the CAN bus. Holds the state of the
// Options page's "COM port selection" and "Baudrate" groups, their Terminal page copies, the set-up baud
// of the family pages and the port/baud caption; the windows only mirror it.
class PortSelection : public QObject {
    Q_OBJECT
public:
    explicit PortSelection(CommandLink& comm, QObject* parent = nullptr);

    // 1..8 for a COM choice, 0 when CAN-bus is on.
    int comChoice() const { return comChoice_; }
    bool canChosen() const { return canChosen_; }
    int baudChoice() const { return baudChoice_; }
    const QString& setupBaud() const { return setupBaud_; }
    int familyBaud(FamilyPage page) const { return familyBaud_[static_cast<int>(page)]; }
    bool canOptionsVisible() const { return canOptionsVisible_; }
    int lastUsedPort() const { return lastUsedPort_; }
    void setLastUsedPort(int port) { lastUsedPort_ = port; }
    bool searchOnlySelected() const { return searchOnlySelected_; }
    void setSearchOnlySelected(bool on);

    bool portAvailable(int com) const;
    void setPortAvailable(int com, bool available);

    // The port/baud caption of the Options page, copied to the Terminal and family pages.
    const QString& portBaudCaption() const { return caption_; }
    void setPortBaudCaption(const QString& text);
    // "COMn@rate baud" for the serial port as it stands (not while a search or the CAN link owns it).
    void refreshPortBaudCaption();

    void applyComChoice();
    // The serial port was opened or moved at COM number com by other means than a COM click: the
    // choice shows it, so the port shown, used and stored is always the same.
    void followPort(int com);
    void comClicked(int com);
    void baudClicked(int baud);
    void familyBaudClicked(FamilyPage page, int baud);
    // Turns the CAN-bus choice on (a COM click turns it off again).
    void canBusClicked();

    // CAN options of the "CANbus Options" group.
    int canNodePosition() const { return canNode_; }
    void setCanNodePosition(int position);
    int canSpeedPosition() const { return canSpeed_; }
    void setCanSpeedPosition(int position);
    // The operator chose a CAN speed: the bridge closes its interface and shows the register value.
    void canSpeedClicked(int position);
    int canDeviceAddress() const { return canDeviceAddress_; }
    void setCanDeviceAddress(int address);

    // The search's activity indicator on the Options page; the Terminal page's follows it.
    bool searching() const { return searching_; }
    void setSearching(bool on);

signals:
    void changed();
    void portBaudCaptionChanged(const QString& text);
    // The CAN bridge reports its errors only while CAN-bus is the chosen link.
    void canErrorReportingChanged(bool on);
    void canSpeedChanged(int position);

private:
    void applyLink();
    CommandLink& link_;
    int comChoice_ = 1;
    bool canChosen_ = false;
    int baudChoice_ = 115200;
    QString setupBaud_ = QStringLiteral("115200");
    std::array<int, kFamilyPages> familyBaud_{115200, 115200, 115200, 115200};
    bool canOptionsVisible_ = false;
    std::array<bool, ComPortMap::kCount> available_{};
    int lastUsedPort_ = 1;
    bool searchOnlySelected_ = false;
    QString caption_ = QStringLiteral("COM1@9600 baud");
    int canNode_ = 0;
    int canSpeed_ = 1;
    int canDeviceAddress_ = 0;
    bool searching_ = false;
};

} // namespace tarvo
