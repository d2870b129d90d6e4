#include "CommandPanel.h"

#include "CommandFile.h"
#include "CommandLog.h"
#include "base/EventWait.h"
#include "base/NumberText.h"
#include "base/Operator.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"
#include "protocol/Discovery.h"

namespace tarvo {

namespace {

QString shown(const QByteArray& reply) {
    return QString::fromLatin1(reply);
}

} // namespace

CommandPanel::CommandPanel(CommandLink& link, Discovery& discovery, Operator& op, CommandLog& log,
                           Hooks hooks, QObject* parent)
    : QObject(parent), link_(link), discovery_(discovery), op_(op), log_(log), hooks_(std::move(hooks)) {}

QByteArray CommandPanel::ask(const QByteArray& line, const QByteArray& start, int timeLimitMs) {
    return link_.sendAndReceive(link_.port().portNumber(), line, timeLimitMs, Framing::startingWith(start));
}

void CommandPanel::setPageControlEnabled(bool on) {
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(on);
}

void CommandPanel::setScanning(bool on) {
    const bool wasBusy = isBusy();
    scanning_ = on;
    if (wasBusy != isBusy())
        emit busyChanged(isBusy());
}

void CommandPanel::setPressing(bool on) {
    const bool wasBusy = isBusy();
    pressing_ = on;
    if (wasBusy != isBusy())
        emit busyChanged(isBusy());
}

void CommandPanel::showCmdClicked() {
    // A scan in the middle of a press or of a multi-command line would mix its lines with theirs.
    if (isBusy() || (hooks_.senderBusy && hooks_.senderBusy()))
        return;
    setScanning(true);
    link_.streamMatcher().setEnabled(false);
    if (hooks_.stopProgressTimer)
        hooks_.stopProgressTimer();
    if (hooks_.stopSending)
        hooks_.stopSending();
    setPageControlEnabled(false);
    discovery_.findDevice();
    if (!discovery_.found()) {
        setPageControlEnabled(true);
        setScanning(false);
        return;
    }
    buttons_.clear();
    emit buttonsCleared();
    // The labels told of a button of the old set; they start empty again with the new one.
    description_.clear();
    max_ = QStringLiteral("Max: ");
    min_ = QStringLiteral("Min: ");
    unit_ = QStringLiteral("Unit: ");
    value_ = QStringLiteral("Value: ");
    emit labelsChanged();
    log_.add(QString::fromLatin1(kSearching));
    scanCommands();
    resetAndFind();
    setPageControlEnabled(true);
    setScanning(false);
}

void CommandPanel::scanCommands() {
    CommandFile file;
    const QString path = hooks_.commandFile ? hooks_.commandFile() : QString();
    QString error;
    const bool loaded = file.load(path, &error);
    if (!loaded)
        log_.add(QStringLiteral("Tarvocommand.ini not read: %1 (%2)").arg(path, error));
    const CommandFile::Scan scan = file.scan();
    // A file of another kind (a copy of Tarvo.ini, one saved as UTF-16) reads, and gives no button.
    if (loaded && scan.sections.isEmpty())
        log_.add(QStringLiteral("Tarvocommand.ini holds no command sections: %1").arg(path));

    int left = kFirstLeft;
    int top = kFirstTop;
    for (const int number : scan.sections) {
        if (link_.serialPortLost())
            break; // the rest would each fail at once and bury the message that says why
        CommandButton button = file.button(number);
        const QByteArray command = button.command.toLatin1();
        log_.add(button.command);
        const bool readable = file.readWhileScanning(number);
        QByteArray answer;
        if (readable) {
            answer = ask(command + '\r', button.answer.toLatin1(), kScanTimeLimitMs);
            if (answer == kTimeOutErr) // a device busy with something else gets a second chance
                answer = ask(command + '\r', button.answer.toLatin1(), kScanTimeLimitMs);
            log_.add(shown(answer));
            if (answer == kTimeOutErr || answer == "ERR" || answer == "R")
                continue;
        }
        button.left = left;
        button.top = top;
        left += CommandButton::kWidth;
        if (left > areaWidth_ - 85) {
            left = kFirstLeft;
            top += CommandButton::kHeight;
        }
        button.lastValue = answer == "K" ? QString() : shown(answer);
        button.valueLabel = button.read ? button.lastValue : QString();
        buttons_.push_back(button);
        emit buttonAdded(static_cast<int>(buttons_.size()) - 1);
    }
    if (scan.refusedSection > 0)
        log_.add(QStringLiteral("CMD%1 and the sections after it not read: there are buttons for CMD1 to "
                                "CMD%2 only")
                     .arg(scan.refusedSection)
                     .arg(CommandFile::kSlots));
}

void CommandPanel::resetAndFind() {
    // An adapter pulled out meanwhile has been reported; a reset and a search would only bury that.
    if (link_.serialPortLost())
        return;
    // The probing may have left the device in any state; a reset and a new search start it afresh.
    op_.showInfoMessage(QString::fromLatin1(kResetting));
    const bool serial = link_.linkKind() != Link::Can;
    ask("\r", "O", 100);
    if (serial && !link_.pauseUnlessPortLost(1000, false))
        return;
    if (ask("SR\r", "O", 500) != "K") {
        if (!link_.serialPortLost())
            op_.showInfoMessage(QString::fromLatin1(kResetFailed));
        return;
    }
    if (serial && !link_.pauseUnlessPortLost(kResetPauseMs, false))
        return;
    discovery_.findDevice();
}

void CommandPanel::setPressed(int index, bool pressed) {
    if (!valid(index) || buttons_[static_cast<std::size_t>(index)].pressed == pressed)
        return;
    buttons_[static_cast<std::size_t>(index)].pressed = pressed;
    emit buttonChanged(index);
}

void CommandPanel::leftPressed(int index) {
    if (!valid(index) || isBusy())
        return;
    setPressing(true);
    setPressed(index, true);
    CommandButton& button = buttons_[static_cast<std::size_t>(index)];
    log_.add(button.command);
    const QByteArray answer =
        ask(button.command.toLatin1() + '\r', button.answer.toLatin1(), kPressTimeLimitMs);
    button.lastValue = shown(answer);
    if (answer != kTimeOutErr && button.read)
        button.valueLabel = button.lastValue;
    log_.add(answer == kTimeOutErr ? shown(answer) : button.answer + shown(answer));
    emit buttonChanged(index);
    // A press that waited for another transaction may end after the release: the button never stays down.
    setPressed(index, false);
    setPressing(false);
}

void CommandPanel::released(int index) {
    setPressed(index, false);
}

void CommandPanel::rightPressed(int index) {
    if (!valid(index) || isBusy())
        return;
    if (!buttons_[static_cast<std::size_t>(index)].read || !buttons_[static_cast<std::size_t>(index)].write)
        return;
    setPressing(true);
    setPressed(index, true);
    CommandButton& button = buttons_[static_cast<std::size_t>(index)];
    const QString typed =
        op_.askValue(button.text, QStringLiteral("Range: %1 to %2").arg(button.min).arg(button.max),
                     button.unit.isEmpty() ? QString() : "Units: " + button.unit);
    if (isValidNumber(typed, static_cast<float>(button.min), static_cast<float>(button.max))) {
        log_.add(button.command + ' ' + typed);
        const QByteArray reply =
            ask(button.command.toLatin1() + ' ' + typed.toLatin1() + '\r', "O", button.timeoutMs);
        log_.add(reply == "K" ? QStringLiteral("OK") : shown(reply));
        if (reply == "K") {
            button.lastValue = typed;
            readBack(button);
        }
        emit buttonChanged(index);
    } else if (!typed.isEmpty()) {
        op_.showMessage(
            QStringLiteral("%1 is not in range %2 to %3").arg(typed).arg(button.min).arg(button.max));
    }
    setPressed(index, false);
    setPressing(false);
}

void CommandPanel::readBack(CommandButton& button) {
    log_.add(button.command);
    const QByteArray answer =
        ask(button.command.toLatin1() + '\r', button.answer.toLatin1(), button.timeoutMs);
    log_.add(answer == kTimeOutErr ? shown(answer) : button.answer + shown(answer));
    button.lastValue = shown(answer);
    if (answer != kTimeOutErr)
        button.valueLabel = button.lastValue;
    value_ = "Value: " + button.lastValue;
    emit labelsChanged();
}

void CommandPanel::hovered(int index) {
    if (!valid(index))
        return;
    const CommandButton& button = buttons_[static_cast<std::size_t>(index)];
    description_ = button.description;
    max_ = QStringLiteral("Max: %1").arg(button.max);
    min_ = QStringLiteral("Min: %1").arg(button.min);
    unit_ = "Unit: " + button.unit;
    value_ = "Value: " + button.lastValue;
    emit labelsChanged();
}

} // namespace tarvo
