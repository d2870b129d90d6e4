#include "TForm1.h"
#include "TForm2.h"
#include "TForm4.h"
#include "app/MainController.h"
#include "link/QtSerialPortDevice.h"

#include <QApplication>

using namespace tarvo;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(MainController::kApplicationTitle));
    QApplication::setApplicationDisplayName(QString::fromLatin1(MainController::kApplicationTitle));

    ui::QtOperator op;
    const QString settings = MainController::defaultSettingsPath();
    const ComPortMap ports = MainController::resolveComPorts(settings);
    MainController controller(op, std::make_unique<QtSerialPortDevice>(ports), settings);
    controller.setComPortMap(ports);

    // The five windows in their order; creating the main window runs FormCreate.
    ui::TForm1 form1(controller, op);
    controller.FormCreate();
    ui::CaptionedWindow form3("Calibration", false);
    ui::TForm2 form2;
    ui::TForm4 form4(controller.dosingMonitor());
    ui::CaptionedWindow form5("Change value", false);
    form2.follow(controller.readout());
    // The last average or dosed value also goes to the big display.
    QObject::connect(&controller.dosingMonitor(), &DosingMonitor::bigDisplayText, &form2,
                     &ui::TForm2::setText);

    form1.show();
    return app.exec();
}
