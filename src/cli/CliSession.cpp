#include "CliSession.h"

#include "link/QtSerialPortDevice.h"

#include <cstdio>

namespace tarvo::cli {

CliSession::CliSession(bool answerYes) : op_(answerYes) {
    const QString settings = MainController::defaultSettingsPath();
    const ComPortMap ports = MainController::resolveComPorts(settings);
    controller_ =
        std::make_unique<MainController>(op_, std::make_unique<QtSerialPortDevice>(ports), settings);
    controller_->setComPortMap(ports);
    controller_->setSettingsWritable(false);
    // The serial port is opened before the settings tell which link is chosen; over the CAN bus its
    // complaint concerns nothing the caller asked for.
    op_.hold();
    controller_->start();
    const bool overCan = controller_->ports().canChosen();
    op_.release([overCan](const QString& line) {
        return !(overCan && line.startsWith(QLatin1String("COM")) &&
                 line.contains(QLatin1String(" not available")));
    });
}

bool CliSession::linkAvailable() {
    const PortSelection& ports = controller_->ports();
    bool any = ports.canChosen();
    for (int com = 1; com <= ComPortMap::kCount && !any; ++com)
        any = ports.portAvailable(com);
    if (!any)
        std::fprintf(stderr, "%s\n", controller_->noComPortsText().toLocal8Bit().constData());
    return any;
}

CliSession::~CliSession() {
    controller_->shutdown();
}

} // namespace tarvo::cli
