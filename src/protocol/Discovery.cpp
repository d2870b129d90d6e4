#include "Discovery.h"

#include "CommandTable.h"
#include "base/EventWait.h"
#include "base/NumberText.h"
#include "base/Operator.h"
#include "link/SerialPort.h"

#include <optional>

namespace tarvo {

namespace {

enum class Show { Unchanged, On, Off };

// One row of the device-family table: which tab becomes visible (none for number 0), the caption it
// gets (nullptr: unchanged) and what happens to "Log GetDosed" and the value display.
struct FamilyRow {
    std::array<int, 4> identities; // 0-padded rows list number 0 only once, in the first place
    int count;
    std::optional<FamilyPage> page;
    const char* caption;
    Show logGetDosed;
    Show valueDisplay;
};

constexpr FamilyRow kFamilyTable[] = {
    {{0}, 1, std::nullopt, nullptr, Show::Off, Show::Unchanged},
    {{3710, 2110, 2113, 2114}, 4, FamilyPage::Mxr21, nullptr, Show::Off, Show::Unchanged},
    {{2310}, 1, FamilyPage::Mxr23, nullptr, Show::Off, Show::Unchanged},
    {{4110}, 1, FamilyPage::Mxr41, "MXR 41xx", Show::Unchanged, Show::Unchanged},
    {{4113}, 1, FamilyPage::Mxr41, "MXR 41xx", Show::Unchanged, Show::On},
    {{4114}, 1, FamilyPage::Mxr41, "MXR 41xx", Show::On, Show::On},
    {{5113, 5115}, 2, FamilyPage::Mxr41, "KVT 51xx", Show::Unchanged, Show::On},
    {{5114}, 1, FamilyPage::Mxr41, "KVT 51xx", Show::On, Show::On},
    {{3010}, 1, FamilyPage::Mxr41, "ZQ4E", Show::Unchanged, Show::On},
    {{4310}, 1, FamilyPage::Tcw43, "TCW 43xx", Show::Off, Show::Unchanged},
    {{4313, 4314}, 2, FamilyPage::Tcw43, "TCW 43xx", Show::Off, Show::On},
    {{6110}, 1, FamilyPage::Tcw43, "RHN 61xx", Show::Off, Show::Unchanged},
};

const FamilyRow* familyRow(int identity) {
    for (const FamilyRow& row : kFamilyTable)
        for (int i = 0; i < row.count; ++i)
            if (row.identities[static_cast<std::size_t>(i)] == identity)
                return &row;
    return nullptr;
}

// An "ID" reply is used only when it is a plain decimal number; anything else came from a line at the
// wrong rate or a device that is not ours.
std::optional<int> identityFrom(const QByteArray& reply) {
    if (reply == kTimeOutErr)
        return std::nullopt;
    const std::optional<long long> value = parseInteger(reply);
    if (!value || *value < 0 || *value > 999999)
        return std::nullopt;
    return static_cast<int>(*value);
}

} // namespace

Discovery::Discovery(CommandLink& comm, PortSelection& ports, Operator& op, QObject* parent)
    : QObject(parent), link_(comm), ports_(ports), op_(op) {}

void Discovery::setDeviceAddress(const QString& address) {
    // The address goes into "CL" and "OP" lines as it stands.
    if (deviceAddress_ == address || !isDeviceAddressChoice(address))
        return;
    deviceAddress_ = address;
    emit changed();
}

QByteArray Discovery::ask(const QByteArray& line, const QByteArray& start, int timeLimitMs) {
    return link_.sendAndReceive(link_.port().portNumber(), line, timeLimitMs, Framing::startingWith(start));
}

bool Discovery::addressed() const {
    return deviceAddress_ != QLatin1String("None");
}

void Discovery::setButtonGroupEnabled(bool on) {
    if (buttonGroupEnabled_ == on)
        return;
    buttonGroupEnabled_ = on;
    emit changed();
}

QString Discovery::canLinkText() const {
    const std::string_view speed = kCanBitRates[static_cast<std::size_t>(ports_.canSpeedPosition())].name;
    return canNodeName(ports_.canNodePosition() + 1) + " @ " +
           QString::fromLatin1(speed.data(), static_cast<qsizetype>(speed.size()));
}

void Discovery::findDeviceClicked() {
    if (searching_)
        return; // a second click while a search waits would take over its transactions
    findDevice();
    if (identity_ == 0) {
        // A device that reports number 0 has not started yet: "G" starts it, then look again.
        ask("G\r", "O", 1000);
        findDevice();
    }
}

void Discovery::findDevice() {
    bool streamStarted = false;
    searching_ = true;
    found_ = false;
    identity_ = kNoIdentity;
    op_.showInfoMessage(QString::fromLatin1(kSearching));
    ports_.setSearching(true);
    setButtonGroupEnabled(false);

    const bool can = ports_.canChosen();
    // A port lost earlier (an adapter pulled out and plugged in again) is opened anew for the search.
    if (!can && !link_.port().isOpen())
        link_.tryOpen();
    if (addressed() && !can)
        ask(addressLine("CL", deviceAddress_), "O", 100);

    if (const std::optional<int> id = identityFrom(ask("ID\r", "D:", 500))) {
        found_ = true;
        identity_ = *id;
    }

    if (ports_.searchOnlySelected()) {
        searchBaud();
    } else {
        // The walk ends on COM1 once more, as the program's search always has.
        for (int com : {1, 2, 3, 4, 5, 6, 7, 8, 1}) {
            if (found_ || !ports_.portAvailable(com) || ports_.canChosen())
                continue;
            ports_.comClicked(com);
            searchBaud();
        }
    }

    if (!found_ && ports_.canChosen()) {
        if (ask("ID\r", "O", 200) != kTimeOutErr)
            found_ = true;
    }

    if (found_) {
        if (const std::optional<int> id = identityFrom(ask("ID\r", "D:", 200))) {
            identity_ = *id;
            deviceLabel_ = QStringLiteral("Device: %1").arg(identity_);
        }
        const QByteArray version = ask("IV\r", "V:", 200);
        if (version != kTimeOutErr) {
            firmware_ = QString::fromLatin1(version);
            firmwareLabel_ = "Firmware: ver." + firmware_;
        }
        streamStarted = !terminalActive_ && streamCommand_;
        if (streamStarted)
            ask(streamCommand_(), "G", 100);
        if (ports_.canChosen()) {
            const QString where = canLinkText();
            portLabel_ = where;
            op_.showInfoMessage("Device found at " + where);
            ports_.setPortBaudCaption(where);
        } else {
            const int port = link_.port().portNumber();
            const int baud = link_.port().baudRate();
            portLabel_ = QStringLiteral("COM%1 @ %2 baud").arg(port).arg(baud);
            op_.showInfoMessage(QStringLiteral("Device found at COM%1  running %2baud").arg(port).arg(baud));
        }
    } else {
        emit firmwareProgrammingStateChanged(3);
        deviceLabel_ = QString::fromLatin1(kDeviceNotFoundLabel);
        firmwareLabel_ = QString::fromLatin1(kFirmwareUnknownLabel);
        portLabel_ = QString::fromLatin1(kPortUnknownLabel);
        op_.showInfoMessage(QString::fromLatin1(kNotFound));
    }
    emit changed();

    if (found_)
        selectFamilyPage();
    else
        op_.showInfoMessage(QString::fromLatin1(kNotFound));

    ports_.setSearching(false);
    link_.streamMatcher().arm();
    link_.streamMatcher().setAutoEnable(true);
    setButtonGroupEnabled(true);
    searching_ = false;
    if (found_)
        emit deviceFound(streamStarted);
}

void Discovery::tryRate(int baud, bool withAddress) {
    // The progress text names the port's rate before the switch, as the operator has always seen it.
    const QString where =
        QStringLiteral("COM%1@%2baud").arg(link_.port().portNumber()).arg(link_.port().baudRate());
    op_.showInfoMessage("Searching device... " + where);
    ports_.setPortBaudCaption(where);
    ports_.baudClicked(baud);
    link_.writeRaw("\r"); // ends whatever half line the device holds from the previous rate
    waitMs(200);
    if (withAddress && addressed()) {
        // A device on a shared line hears its address only at its own rate, so the address goes out at
        // the rate being tried, after the half line is ended.
        waitMs(100);
        ask(addressLine("OP", deviceAddress_), "O", 100);
    }
    if (ask(baudLine(baud), "O", 200) == "K")
        found_ = true;
    ports_.setLastUsedPort(link_.port().portNumber());
}

void Discovery::searchBaud() {
    if (found_)
        return;
    for (int baud : kSearchBaudRates) {
        if (found_)
            return;
        tryRate(baud, true);
    }
    if (!found_)
        tryRate(kSearchBaudRates.front(), false); // one more plain try, without the address
}

void Discovery::selectFamilyPage() {
    const FamilyRow* row = familyRow(identity_);
    if (!row)
        return;
    for (int i = 0; i < kFamilyPages; ++i) {
        const auto page = static_cast<FamilyPage>(i);
        emit familyTabRequested(page, row->page && *row->page == page);
    }
    if (row->page && row->caption)
        captions_[static_cast<int>(*row->page)] = QString::fromLatin1(row->caption);
    if (row->logGetDosed != Show::Unchanged)
        logGetDosedVisible_ = row->logGetDosed == Show::On;
    if (row->valueDisplay == Show::On)
        valueDisplayVisible_ = true;
    emit changed();
}

bool Discovery::statusBit(int index) {
    const QByteArray reply = ask("IS\r", "S:", 100);
    // A reply too short or not numeric carries no status; it is reported like a missing one rather
    // than read as bits.
    const long long bits = reply.size() >= 6 ? parseInteger(reply.left(3)).value_or(-1) : -1;
    const long long second = reply.size() >= 6 ? parseInteger(reply.mid(3, 3)).value_or(-1) : -1;
    if (reply == kTimeOutErr || bits < 0 || second < 0) {
        op_.showInfoLine(Page::Tcw43, QString::fromLatin1(kStatusError));
        return false;
    }
    static constexpr std::array<long long, 6> kStatusMasks{1, 2, 4, 8, 16, 32};
    if (index < 0 || index >= static_cast<int>(kStatusMasks.size()))
        return false;
    return (bits & kStatusMasks[static_cast<std::size_t>(index)]) != 0;
}

} // namespace tarvo
