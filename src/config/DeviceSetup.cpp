#include "DeviceSetup.h"

#include "base/EventWait.h"
#include "base/Operator.h"
#include "link/CommandLink.h"
#include "link/PortSelection.h"
#include "link/SerialPort.h"
#include "protocol/Discovery.h"

namespace tarvo {

DeviceSetup::DeviceSetup(CommandLink& comm, PortSelection& ports, Discovery& discovery, Operator& op,
                         QObject* parent)
    : QObject(parent), link_(comm), ports_(ports), discovery_(discovery), op_(op) {}

bool DeviceSetup::acknowledged(const QByteArray& line, int timeLimitMs) {
    return link_.sendAndReceive(link_.port().portNumber(), line, timeLimitMs, Framing::startingWith("O")) ==
           "K";
}

void DeviceSetup::resetAndFind() {
    op_.showInfoMessage(QString::fromLatin1(kResetting));
    const QByteArray reply =
        link_.sendAndReceive(ports_.lastUsedPort(), "SR\r", 500, Framing::startingWith("O"));
    if (reply != "K") {
        op_.showInfoMessage(QString::fromLatin1(kResetFailed));
        return;
    }
    // The operator's clicks wait until the device is back; timers and arriving data go on.
    if (!link_.pauseUnlessPortLost(kResetPauseMs, false))
        return;
    discovery_.findDevice();
}

void DeviceSetup::setupClicked() {
    op_.showInfoMessage(QString());
    emit pageControlEnabledRequested(false);
    if (op_.askOkCancel(QString::fromLatin1(kSetupQuestion))) {
        const QByteArray baud = ports_.setupBaud().toLatin1();
        for (const QByteArray& line : {QByteArray("DX1\r"), "br" + baud + '\r', QByteArray("WP\r")}) {
            if (!acknowledged(line, 100)) {
                op_.showInfoMessage(QString::fromLatin1(kSetupFailed));
                emit pageControlEnabledRequested(true);
                return;
            }
        }
    }
    resetAndFind();
    emit pageControlEnabledRequested(true);
}

void DeviceSetup::loadDefaultClicked() {
    emit pageControlEnabledRequested(false);
    if (!op_.askOkCancel(QString::fromLatin1(kDefaultQuestion))) {
        emit pageControlEnabledRequested(true);
        return;
    }
    // Protected commands need the two-step "CE" handshake: the device's code, sent back to it.
    const QByteArray code =
        link_.sendAndReceive(link_.port().portNumber(), "CE\r", 1000, Framing::startingWith("E+"));
    if (code == kTimeOutErr || !acknowledged("CE" + code + '\r', 1000)) {
        op_.showMessage(QString::fromLatin1(kDefaultFailed));
    } else if (!acknowledged("FD\r", 1000)) {
        op_.showMessage(QString::fromLatin1(kDefaultFailed));
    } else {
        op_.showInfoMessage(QString::fromLatin1(kDefaultLoaded));
    }
    resetAndFind();
    emit pageControlEnabledRequested(true);
}

} // namespace tarvo
