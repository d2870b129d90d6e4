#include "FontConfigurationLoad.h"
#include "ProgramWindows.h"
#include "StartupMark.h"
#include "app/MainController.h"
#include "base/TerminationSignals.h"
#include "base/Version.h"
#include "link/QtSerialPortDevice.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

using namespace tarvo;

namespace {
// Asked for, the usage goes to standard output; as the answer to a mistake, to standard error.
void usage(FILE* to) {
    std::fprintf(to,
                 "usage: tarvo [--help | --version]\n\n"
                 "Starts the window program for load-cell transmitters; it takes no other options.\n\n"
                 "  --help     print this text and exit\n"
                 "  --version  print the version and exit\n\n"
                 "Qt's own options (such as -platform offscreen) are passed on. The settings are kept in\n"
                 "$XDG_CONFIG_HOME/Tarvo/Tarvo.ini; \"man tarvo\" describes them.\n");
}
} // namespace

int main(int argc, char** argv) {
    // Answered before the application starts, so they work without a display (over ssh, in a package
    // check): the application would end the process when it finds no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s\n", TARVO_CAPTION);
            return 0;
        }
    }
    // Started first: it runs on the second core while the application and the controller are made.
    ui::FontConfigurationLoad fonts;
    QApplication app(argc, argv);
    // The application has taken Qt's own options out; whatever is left is not the program's.
    if (argc > 1) {
        std::fprintf(stderr, "tarvo: unknown option '%s'\n\n", argv[1]);
        usage(stderr);
        return 2;
    }
    ui::ProgramWindows::nameApplication();

    ui::QtOperator op;
    const QString settings = MainController::defaultSettingsPath();
    const ComPortMap ports = MainController::resolveComPorts(settings);
    MainController controller(op, std::make_unique<QtSerialPortDevice>(ports), settings);
    controller.setComPortMap(ports);

    // The windows measure text from the start; where the load has not finished they wait for it rather
    // than load the same configuration a second time. A load that takes long (fonts being indexed anew)
    // is left to finish alongside.
    fonts.waitUntilLoaded(1000);
    ui::ProgramWindows windows(controller, op);
    // A TERM signal (the session ending, a service manager) closes the window as the close box does, so
    // the settings are saved; a second one ends at once.
    TerminationSignals terminate(143);
    QObject::connect(&terminate, &TerminationSignals::received, &windows.mainWindow(), &QWidget::close);
    ui::markFirstExposure(windows.mainWindow());
    windows.mainWindow().show();
    return app.exec();
}
