#pragma once

#include "BigDisplayWindow.h"
#include "CalibrationDialog.h"
#include "ChangeValueDialog.h"
#include "DataWindow.h"
#include "MainWindow.h"
#include "QtOperator.h"

#include <QObject>

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

// The program's windows in the order they are created (main window, calibration, big display, data,
// value pop-up) and what ties them together: the big display and the "Data" window follow the core, and
// closing the main window ends the program even while the other windows are open.
class ProgramWindows : public QObject {
    Q_OBJECT
public:
    // The name of the menu entry that starts the program (without ".desktop").
    static constexpr const char* kDesktopFileName = "org.tarvo.Tarvo";
    // The application's names, icon and menu entry; the main window's caption alone is what the window
    // system shows. Also presents the small windows to assistive technology as windows.
    static void nameApplication();

    // Creates the windows; creating the main window runs the controller's start-up sequence.
    ProgramWindows(MainController& controller, QtOperator& op, QObject* parent = nullptr);

    MainWindow& mainWindow() { return mainWindow_; }
    CalibrationDialog& calibrationWindow() { return calibration_; }
    BigDisplayWindow& bigDisplay() { return bigDisplay_; }
    DataWindow& dataWindow() { return data_; }
    ChangeValueDialog& changeValueWindow() { return changeValue_; }

signals:
    // The main window has closed and the shutdown ran; the program ends.
    void finished();

private:
    void mainWindowClosed();

    MainWindow mainWindow_;
    CalibrationDialog calibration_;
    BigDisplayWindow bigDisplay_;
    DataWindow data_;
    ChangeValueDialog changeValue_;
};

} // namespace tarvo::ui
