#include "ProgramWindows.h"

#include "app/MainController.h"

#include <QApplication>

namespace tarvo::ui {

void ProgramWindows::nameApplication() {
    // No display name: Qt would append it to every window title, and the main window's caption must
    // reach the window system exactly as it stands.
    QApplication::setApplicationName(QString::fromLatin1(MainController::kApplicationTitle));
}

ProgramWindows::ProgramWindows(MainController& controller, QtOperator& op, QObject* parent)
    : QObject(parent), mainWindow_(controller, op), calibration_(controller),
      data_(controller.dosingMonitor()) {
    op.setChangeValueWindow(&changeValue_);
    controller.start();
    bigDisplay_.follow(controller.readout());
    // The last average or dosed value also goes to the big display.
    connect(&controller.dosingMonitor(), &DosingMonitor::bigDisplayText, &bigDisplay_,
            &BigDisplayWindow::setText);
    connect(&controller.averaging(), &AverageAcquisition::bigDisplayText, &bigDisplay_,
            &BigDisplayWindow::setText);
    // The calibration window behaves as a modal one: the main window waits until the wizard has ended.
    connect(&controller.calibrationWizard(), &CalibrationWizard::changed, &mainWindow_, [this, &controller] {
        mainWindow_.setEnabled(controller.calibrationWizard().mainWindowEnabled());
    });
    connect(&mainWindow_, &MainWindow::closed, this, &ProgramWindows::mainWindowClosed);
}

void ProgramWindows::mainWindowClosed() {
    // The big display and the "Data" window are windows of their own; left open they would keep the
    // program alive after its main window has gone.
    for (QWidget* w : std::initializer_list<QWidget*>{&calibration_, &bigDisplay_, &data_, &changeValue_})
        w->hide();
    emit finished();
    QCoreApplication::quit();
}

} // namespace tarvo::ui
