#pragma once

#include "CalibrationRecord.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>
#include <functional>

namespace tarvo {

class CommandLink;
class Discovery;
class Operator;

// What the calibration wizard needs from the rest of the program; the controller fills these in.
struct CalibrationHooks {
    std::function<void(bool)> setPageControlEnabled;
    // The units entry of the graph options, shown beside the load.
    std::function<QString()> unitsText;
};

// The "Calibration" window without the window: a two-point calibration (zero with the cell empty, gain
// with a known load), the display's decimal point, the store, and the restart of the device. While it
// is open the main window is locked; every way out, failure or success, goes through stopCalibration.
class CalibrationWizard : public QObject {
    Q_OBJECT
public:
    enum class State { Closed, Open, Running };

    struct DecimalPointChoice {
        const char* caption;
        const char* command;
    };
    static constexpr std::array<DecimalPointChoice, 6> kDecimalPoints{{{"00000.", "DP0\r"},
                                                                       {"0000.0", "DP1\r"},
                                                                       {"000.00", "DP2\r"},
                                                                       {"00.000", "DP3\r"},
                                                                       {"0.0000", "DP4\r"},
                                                                       {".00000", "DP5\r"}}};

    static constexpr const char* kCaption = "Calibration";
    static constexpr const char* kChoose = "Choose calibration load and decimalpoint...";
    static constexpr const char* kDeviceNotFound = "Device not found!";
    static constexpr const char* kStoppedByUser = "Calibration stopped by user... device NOT calibrated";
    static constexpr const char* kNotConnected = "Device not connected.... press \"Find Device\"";
    static constexpr const char* kNotCalibrated = "Device not calibrated - ERROR!";
    static constexpr const char* kLoadTooLong = "Calibration Load - Max 65535!";
    static constexpr const char* kLoadEmpty = "You have to enter Calibration Load!";
    static constexpr const char16_t* kLoadCharacter = u"Can\u00b4t use character in Calibration Load!";
    static constexpr const char* kLoadRange = "Calibration Load - Value: 0 - 65535";
    static constexpr const char* kRemoveLoad = "Remove any load from loadcell";
    static constexpr const char* kAwaitZero = "AWAIT NO MOTION - FOR ZERO!";
    static constexpr const char* kZeroUnstable = "Signal is not stable enough to calibrate...Calibration "
                                                 "cancled!... Maybe you need to setup a slower filter";
    static constexpr const char* kZeroRefusedLine =
        "NO MOTION NOT ACHIEVED - FOR ZERO!... Maybe you need to setup a slower filter";
    static constexpr const char* kZeroRefusedBox =
        "NO MOTION NOT ACHIEVED - FOR ZERO... Maybe you need to setup a slower filter!";
    static constexpr const char* kPlaceLoad = "Place load on loadcell";
    static constexpr const char* kAwaitGain = "AWAIT NO MOTION - FOR GAIN!";
    static constexpr const char* kGainUnstable = "Signal is not stable enough to calibrate...Calibration "
                                                 "cancled!... Maybe you need to setup a slower filter!";
    static constexpr const char* kGainRefused =
        "NO MOTION NOT ACHIEVED- FOR GAIN!... Maybe you need to setup a slower filter!";
    static constexpr const char* kDone = "Calibration done.. and stored in memory!";
    static constexpr const char* kResetting = "Software reset... please wait!";
    static constexpr const char* kResetFailed =
        "Communication error: Soft-reset not complete... press \"Find "
        "Device\"";
    static constexpr const char* kSaveRecordQuestion = "Save a calibration record?";
    static constexpr const char* kRecordSuffix = ".txt";
    static constexpr const char* kRecordFilter = "Calibration record (*.txt)|*.txt";
    static constexpr const char* kRecordNotSaved = "Calibration record not saved: ";

    static constexpr int kCommandLimitMs = 500;
    // Zero and gain take the device a while: it averages the still signal first.
    static constexpr int kCalibrateLimitMs = 10000;
    static constexpr int kStatusQueries = 10;
    static constexpr int kCountingQueries = 9;
    static constexpr int kCanZeroPauseMs = 5000;
    static constexpr int kResetPauseMs = 8000;

    CalibrationWizard(CommandLink& link, Discovery& discovery, Operator& op, CalibrationHooks hooks,
                      QObject* parent = nullptr);

    // The load check, in its order: empty when the text is a load the device takes, else the box text.
    static QString loadProblem(const QString& text);

    // A calibrate button: the window opens over the locked main window.
    void calibrateClicked();
    void continueClicked();
    void exitClicked();
    // The one way the wizard ends: the message on the instruction line, every information line and in
    // a box; the main window free again, the window hidden.
    void stopCalibration(const QString& message);

    State state() const { return state_; }
    const QString& loadText() const { return load_; }
    void setLoadText(const QString& text);
    int decimalPoint() const { return decimalPoint_; }
    void setDecimalPoint(int index);
    const QString& instruction() const { return instruction_; }
    const QString& unitsText() const { return units_; }
    bool windowVisible() const { return state_ != State::Closed; }
    bool windowEnabled() const { return windowEnabled_; }
    bool mainWindowEnabled() const { return state_ == State::Closed; }
    // The last complete calibration.
    const CalibrationRecord& record() const { return record_; }

signals:
    void changed();

private:
    // The steps after CONTINUE found the device; every failure has already ended the wizard.
    void calibrate();
    bool acknowledged(const QByteArray& line, int timeLimitMs);
    bool handshake();
    bool waitForNoMotion();
    QString reading(const QByteArray& line, const QByteArray& start);
    QString gainReading();
    void setInstruction(const QString& text);
    void setWindowEnabled(bool on);
    void offerRecord();
    void resetAndFind();
    void stopStream();
    void startStream();

    CommandLink& link_;
    Discovery& discovery_;
    Operator& op_;
    CalibrationHooks hooks_;
    State state_ = State::Closed;
    QString load_ = QStringLiteral("1000");
    int decimalPoint_ = 0;
    QString instruction_;
    QString units_;
    bool windowEnabled_ = true;
    // "COMn not available: ..." once the serial port is lost during a run.
    QString portLost_;
    CalibrationRecord record_;
};

} // namespace tarvo
