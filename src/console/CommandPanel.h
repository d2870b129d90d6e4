#pragma once

#include "CommandButton.h"

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

namespace tarvo {

class CommandLink;
class CommandLog;
class Discovery;
class Operator;

// The Commands page's command buttons: "Show CMD" finds the device, reads "Tarvocommand.ini", asks the
// device for every readable command and builds a button for each command it answers; a left press sends
// the command, a right press writes a value typed into the "Change value" window, and the pointer over a
// button shows its description, range, unit and value in the page's labels. Every exchange goes to the
// page's log.
class CommandPanel : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kSearching = "PLEASE WAIT... searching for available commands!";
    static constexpr const char* kResetting = "Software reset... please wait!";
    static constexpr const char* kResetFailed = "Communication error... Power on and off and try again!";
    // Where the first button goes; the buttons fill rows to the right of the sender's column.
    static constexpr int kFirstLeft = 300;
    static constexpr int kFirstTop = 50;
    // The scan's fixed time limit for a readable command, and a left press's.
    static constexpr int kScanTimeLimitMs = 100;
    static constexpr int kPressTimeLimitMs = 250;
    static constexpr int kResetPauseMs = 8000;

    struct Hooks {
        std::function<void(bool)> setPageControlEnabled;
        // Ends the multi-command loop and unchecks "Send in loop".
        std::function<void()> stopSending;
        // The multi-command sender is in the middle of a line.
        std::function<bool()> senderBusy;
        // Stops the firmware programming's progress timer.
        std::function<void()> stopProgressTimer;
        // Where "Tarvocommand.ini" is read from at each "Show CMD".
        std::function<QString()> commandFile;
    };

    CommandPanel(CommandLink& link, Discovery& discovery, Operator& op, CommandLog& log, Hooks hooks,
                 QObject* parent = nullptr);

    // The width of the page's command area; a row of buttons ends 85 short of it.
    void setAreaWidth(int width) { areaWidth_ = width; }
    int areaWidth() const { return areaWidth_; }

    void showCmdClicked();
    void leftPressed(int index);
    void released(int index);
    void rightPressed(int index);
    // The pointer moved over a button.
    void hovered(int index);

    const std::vector<CommandButton>& buttons() const { return buttons_; }
    // "Show CMD" is running: the buttons and the sender wait.
    bool isScanning() const { return scanning_; }
    bool isBusy() const { return scanning_ || pressing_; }

    // The page's labels.
    const QString& descriptionLabel() const { return description_; }
    const QString& maxLabel() const { return max_; }
    const QString& minLabel() const { return min_; }
    const QString& unitLabel() const { return unit_; }
    const QString& valueLabel() const { return value_; }

signals:
    void buttonsCleared();
    void buttonAdded(int index);
    void buttonChanged(int index);
    void labelsChanged();
    void busyChanged(bool busy);

private:
    QByteArray ask(const QByteArray& line, const QByteArray& start, int timeLimitMs);
    void scanCommands();
    void resetAndFind();
    void setScanning(bool on);
    void setPressing(bool on);
    void setPressed(int index, bool pressed);
    // Reads the command back after a write; its answer is the button's value.
    void readBack(CommandButton& button);
    void setPageControlEnabled(bool on);
    bool valid(int index) const { return index >= 0 && index < static_cast<int>(buttons_.size()); }

    CommandLink& link_;
    Discovery& discovery_;
    Operator& op_;
    CommandLog& log_;
    Hooks hooks_;
    int areaWidth_ = 1100;
    std::vector<CommandButton> buttons_;
    bool scanning_ = false;
    bool pressing_ = false;
    QString description_;
    QString max_ = QStringLiteral("Max: ");
    QString min_ = QStringLiteral("Min: ");
    QString unit_ = QStringLiteral("Unit: ");
    QString value_ = QStringLiteral("Value: ");
};

} // namespace tarvo
