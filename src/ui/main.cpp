#include "ProgramWindows.h"
#include "app/MainController.h"
#include "link/QtSerialPortDevice.h"

#include <QApplication>

using namespace tarvo;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ui::ProgramWindows::nameApplication();

    ui::QtOperator op;
    const QString settings = MainController::defaultSettingsPath();
    const ComPortMap ports = MainController::resolveComPorts(settings);
    MainController controller(op, std::make_unique<QtSerialPortDevice>(ports), settings);
    controller.setComPortMap(ports);

    ui::ProgramWindows windows(controller, op);
    windows.mainWindow().show();
    return app.exec();
}
