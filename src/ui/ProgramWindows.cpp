#include "ProgramWindows.h"

#include "app/MainController.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QIcon>

namespace tarvo::ui {

namespace {
// Plain widgets with a frame of their own are presented by Qt as a "filler", which a screen reader does
// not announce as a window: these are windows.
QAccessibleInterface* windowAccessible(const QString& className, QObject* object) {
    const QByteArray name = className.toLatin1();
    for (const QMetaObject* window : {&CalibrationDialog::staticMetaObject,
                                      &BigDisplayWindow::staticMetaObject, &DataWindow::staticMetaObject})
        if (name == window->className() && object && object->isWidgetType())
            return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}
} // namespace

void ProgramWindows::nameApplication() {
    // No display name: Qt would append it to every window title, and the main window's caption must
    // reach the window system exactly as it stands.
    QApplication::setApplicationName(QString::fromLatin1(MainController::kApplicationTitle));
    // Ties the windows to the menu entry (Wayland's app id; the entry's StartupWMClass names the X11
    // window class, which is the application's name).
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    // The installed icon's pictures, built in: a build that is not installed shows it too.
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    QAccessible::installFactory(windowAccessible);
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
