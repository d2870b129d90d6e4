#include "FullDuplexCheck.h"

#include "base/Operator.h"
#include "link/CommandLink.h"
#include "link/PortAccess.h"
#include "link/SerialPort.h"

namespace tarvo {

bool FullDuplexCheck::run(CommandLink& comm, Operator& op, Caller caller) {
    const int port = comm.port().portNumber();
    // A serial port that has gone away answers nothing: that is said, not taken for a device that is
    // not set up for full duplex.
    if (comm.linkKind() == Link::Com && !comm.port().isOpen()) {
        op.showInfoMessage(PortAccess::notAvailableText(port, QString()));
        return false;
    }
    const int dxTimeLimit = caller == Caller::Trigger ? 1000 : 500;
    if (comm.sendAndReceive(port, "DX\r", dxTimeLimit, Framing::startingWith("X:")) == "001")
        return true;
    // On No streaming is attempted anyway.
    if (!op.askYesNo(QString::fromLatin1(kQuestion)))
        return true;
    if (comm.sendAndReceive(port, "DX1\r", 500, Framing::startingWith("O")) != "K") {
        const QString text = QString::fromLatin1(kDx1Failure);
        op.showInfoMessage(text);
        op.showMessage(text);
        return false;
    }
    const QByteArray wp = comm.sendAndReceive(port, "WP\r", 500, Framing::startingWith("O"));
    if (wp == "K" || (caller == Caller::Trigger && wp != kTimeOutErr))
        return true;
    const char* failure = caller == Caller::Autotransmit ? kAutotransmitFailure
                          : caller == Caller::Run        ? kRunFailure
                                                         : kTriggerFailure;
    op.showInfoMessage(QString::fromLatin1(failure));
    return false;
}

} // namespace tarvo
