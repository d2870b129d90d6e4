#include "CliSession.h"

#include "link/QtSerialPortDevice.h"

namespace tarvo::cli {

CliSession::CliSession(bool answerYes) : op_(answerYes) {
    const QString settings = MainController::defaultSettingsPath();
    auto port = std::make_unique<QtSerialPortDevice>(MainController::resolveComPorts(settings));
    controller_ = std::make_unique<MainController>(op_, std::move(port), settings);
    controller_->setSettingsWritable(false);
    controller_->FormCreate();
}

CliSession::~CliSession() {
    controller_->FormDestroy();
}

} // namespace tarvo::cli
