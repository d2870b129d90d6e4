#include "ProgramWindows.h"
#include "app/MainController.h"
#include "base/TerminationSignals.h"
#include "base/Version.h"
#include "link/QtSerialPortDevice.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

using namespace tarvo;

int main(int argc, char** argv) {
    // Answered before the application starts, so it works without a display (over ssh, in a package check).
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s\n", TARVO_CAPTION);
        return 0;
    }
    QApplication app(argc, argv);
    ui::ProgramWindows::nameApplication();

    ui::QtOperator op;
    const QString settings = MainController::defaultSettingsPath();
    const ComPortMap ports = MainController::resolveComPorts(settings);
    MainController controller(op, std::make_unique<QtSerialPortDevice>(ports), settings);
    controller.setComPortMap(ports);

    ui::ProgramWindows windows(controller, op);
    // A TERM signal (the session ending, a service manager) closes the window as the close box does, so
    // the settings are saved; a second one ends at once.
    TerminationSignals terminate(143);
    QObject::connect(&terminate, &TerminationSignals::received, &windows.mainWindow(), &QWidget::close);
    windows.mainWindow().show();
    return app.exec();
}
