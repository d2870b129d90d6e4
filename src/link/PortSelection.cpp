#include "PortSelection.h"

#include "SerialPort.h"
#include "protocol/CommandTable.h"

namespace tarvo {

PortSelection::PortSelection(CommandLink& comm, QObject* parent) : QObject(parent), link_(comm) {
    applyLink();
    // A transaction that moved the port (the reset on the last used port) moves the choice with it, so
    // the port shown, used and stored is always the same.
    connect(&link_, &CommandLink::portNumberChanged, this, &PortSelection::followPort);
}

void PortSelection::followPort(int com) {
    if (canChosen_ || com < 1 || com > ComPortMap::kCount)
        return;
    comChoice_ = com;
    refreshPortBaudCaption();
    emit changed();
}

void PortSelection::refreshPortBaudCaption() {
    // While a search runs its own progress texts own the caption.
    if (searching_ || canChosen_)
        return;
    setPortBaudCaption(
        QStringLiteral("COM%1@%2 baud").arg(link_.port().portNumber()).arg(link_.port().baudRate()));
}

void PortSelection::applyLink() {
    link_.setLinkKind(canChosen_ ? Link::Can : comChoice_ >= 1 ? Link::Com : Link::None);
}

bool PortSelection::portAvailable(int com) const {
    return com >= 1 && com <= ComPortMap::kCount && available_[com - 1];
}

void PortSelection::setPortAvailable(int com, bool available) {
    if (com < 1 || com > ComPortMap::kCount || available_[com - 1] == available)
        return;
    available_[com - 1] = available;
    emit changed();
}

void PortSelection::setSearchOnlySelected(bool on) {
    searchOnlySelected_ = on;
    emit changed();
}

void PortSelection::setPortBaudCaption(const QString& text) {
    if (caption_ == text)
        return;
    caption_ = text;
    // Every page's copy of the caption follows the Options page's.
    emit portBaudCaptionChanged(caption_);
}

void PortSelection::applyComChoice() {
    canOptionsVisible_ = false;
    const int n = comChoice_;
    if (n >= 1 && n <= ComPortMap::kCount) {
        link_.port().close();
        link_.port().setPortNumber(n);
        available_[n - 1] = true;
        if (link_.tryOpen())
            lastUsedPort_ = n; // the port in use is the one the reset commands must reach
        else
            available_[n - 1] = false;
    }
    applyLink();
    refreshPortBaudCaption();
    emit changed();
}

void PortSelection::comClicked(int com) {
    if (com < 1 || com > ComPortMap::kCount)
        return;
    comChoice_ = com;
    const bool wasCan = canChosen_;
    canChosen_ = false;
    applyComChoice();
    if (wasCan)
        emit canErrorReportingChanged(false);
}

void PortSelection::baudClicked(int baud) {
    link_.port().setBaudRate(baud);
    baudChoice_ = baud;
    refreshPortBaudCaption();
    familyBaudClicked(FamilyPage::Mxr21, baud);
    familyBaudClicked(FamilyPage::Mxr23, baud);
    familyBaudClicked(FamilyPage::Mxr41, baud);
    emit changed();
}

void PortSelection::familyBaudClicked(FamilyPage page, int baud) {
    setupBaud_ = QString::number(baud);
    familyBaud_[static_cast<int>(page)] = baud;
    emit changed();
}

void PortSelection::canBusClicked() {
    canChosen_ = true;
    canOptionsVisible_ = true;
    applyLink();
    emit canErrorReportingChanged(canChosen_);
    emit changed();
}

void PortSelection::setCanNodePosition(int position) {
    if (position < 0 || position >= kCanNodeCount)
        return;
    canNode_ = position;
    emit changed();
}

void PortSelection::setCanSpeedPosition(int position) {
    if (position < 0 || position >= static_cast<int>(kCanBitRates.size()))
        return;
    canSpeed_ = position;
    emit changed();
}

void PortSelection::canSpeedClicked(int position) {
    if (position < 0 || position >= static_cast<int>(kCanBitRates.size()) || position == canSpeed_)
        return;
    setCanSpeedPosition(position);
    emit canSpeedChanged(position);
}

void PortSelection::setCanDeviceAddress(int address) {
    if (address < 0 || address >= kDeviceAddressCount)
        return;
    canDeviceAddress_ = address;
    emit changed();
}

void PortSelection::setSearching(bool on) {
    if (searching_ == on)
        return;
    searching_ = on;
    // After a search the caption names the port and rate in use again, not the last try's.
    refreshPortBaudCaption();
    emit changed();
}

} // namespace tarvo
