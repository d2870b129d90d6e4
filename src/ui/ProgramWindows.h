#pragma once

#include "BigDisplayWindow.h"
#include "CalibrationDialog.h"
#include "ChangeValueDialog.h"
#include "DataWindow.h"
#include "MainWindow.h"
#include "QtOperator.h"
#include "measure/LiveReadout.h"

#include <QObject>
#include <memory>

namespace tarvo {
class MainController;
}

namespace tarvo::ui {

// The program's windows (main window, calibration, big display, data, value pop-up) and what ties them
// together: the big display and the "Data" window follow the core, and closing the main window ends the
// program even while the other windows are open.
// Only the main window is made at start; the others are made when first shown or asked for, showing
// what the core holds at that moment, so that the program is on screen sooner.
class ProgramWindows : public QObject {
    Q_OBJECT
public:
    // The name of the menu entry that starts the program (without ".desktop").
    static constexpr const char* kDesktopFileName = "org.tarvo.Tarvo";
    // The application's names, icon and menu entry; the main window's caption alone is what the window
    // system shows. Also presents the small windows to assistive technology as windows.
    static void nameApplication();

    // Creates the main window; creating it runs the controller's start-up sequence.
    ProgramWindows(MainController& controller, QtOperator& op, QObject* parent = nullptr);
    ~ProgramWindows() override;

    MainWindow& mainWindow() { return mainWindow_; }
    CalibrationDialog& calibrationWindow();
    BigDisplayWindow& bigDisplay();
    DataWindow& dataWindow();
    ChangeValueDialog& changeValueWindow();
    // Whether a window other than the main one has been made yet.
    bool calibrationWindowMade() const { return calibration_ != nullptr; }
    bool bigDisplayMade() const { return bigDisplay_ != nullptr; }
    bool dataWindowMade() const { return data_ != nullptr; }
    bool changeValueWindowMade() const { return changeValue_ != nullptr; }

signals:
    // The main window has closed and the shutdown ran; the program ends.
    void finished();

private:
    void mainWindowClosed();

    MainController& c_;
    QtOperator& op_;
    MainWindow mainWindow_;
    std::unique_ptr<CalibrationDialog> calibration_;
    std::unique_ptr<BigDisplayWindow> bigDisplay_;
    // What the big display would show, kept until it is made.
    QString bigDisplayText_ = QString::fromLatin1(LiveReadout::kNoInput);
    std::unique_ptr<DataWindow> data_;
    std::unique_ptr<ChangeValueDialog> changeValue_;
};

} // namespace tarvo::ui
