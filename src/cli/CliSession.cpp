#include "CliSession.h"

#include "link/QtSerialPortDevice.h"

namespace tarvo::cli {

CliSession::CliSession(bool answerYes) : op_(answerYes) {
    const QString settings = MainController::defaultSettingsPath();
    const ComPortMap ports = MainController::resolveComPorts(settings);
    controller_ =
        std::make_unique<MainController>(op_, std::make_unique<QtSerialPortDevice>(ports), settings);
    controller_->setComPortMap(ports);
    controller_->setSettingsWritable(false);
    controller_->start();
}

CliSession::~CliSession() {
    controller_->shutdown();
}

} // namespace tarvo::cli
