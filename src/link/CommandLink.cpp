#include "CommandLink.h"

#include "CanExchange.h"
#include "PortAccess.h"
#include "SerialPort.h"
#include "base/EventWait.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "protocol/CommandTable.h"

#include <QEventLoop>
#include <algorithm>

namespace tarvo {

namespace {
// One byte takes about a millisecond at 9600 baud; a port that has not sent it in this time never will.
constexpr int kDrainLimitMs = 200;
// A look for a stream whose lines read as an answer: longer than the slowest stream's period (4.69 lines
// a second).
constexpr int kStreamLookMs = 250;
constexpr int kStreamLooks = 4; // at most, while what comes is no text
} // namespace

CommandLink::CommandLink(std::unique_ptr<SerialPort> port, Operator& op, QObject* parent)
    : QObject(parent), port_(std::move(port)), op_(op) {
    timeoutTimer_.setSingleShot(true);
    timeoutTimer_.setTimerType(Qt::PreciseTimer);
    connect(&timeoutTimer_, &QTimer::timeout, this, [this] {
        // An answer that came in time can still wait unread in the port when this thread was held up
        // (a loaded machine) after the event loop last looked at the port and before it looked at its
        // timers: the loop turns once more, and reads it, before the time-out is taken.
        if (!lastLook_) {
            lastLook_ = true;
            timeoutTimer_.start(0);
            return;
        }
        timedOut_ = true;
        if (loop_)
            loop_->quit();
    });
    reply_.onPacket = [this](QByteArrayView packet) {
        if (!replyToTerminal_)
            onReply(packet);
        else if (terminalSink_)
            terminalSink_(packet);
    };
    streamMatcher_.onPacket = [this](QByteArrayView packet) {
        if (streamSink_)
            streamSink_(packet);
    };
    connect(port_.get(), &SerialPort::readyRead, this, &CommandLink::onReadyRead);
    connect(port_.get(), &SerialPort::lost, this, [this](const QString& reason) {
        reply_.disarm();
        emit portLost(port_->portNumber(), reason);
        if (loop_)
            loop_->quit();
    });
}

CommandLink::~CommandLink() = default;

void CommandLink::initialise() {
    reply_.disarm();
    reply_.setEnabled(false);
    reply_.setAutoEnable(false);
    setPortParameters(1, 9600, 8, 0);
    openPort(true);
}

void CommandLink::setPortParameters(int portNumber, qint32 baud, int dataBits, int parity) {
    port_->setPortNumber(portNumber);
    port_->setBaudRate(baud);
    port_->setDataBits(dataBits);
    port_->setParity(parity);
}

bool CommandLink::openPort(bool open) {
    if (port_->isOpen() && open)
        port_->close();
    if (!open) {
        port_->close();
        return true;
    }
    QString reason;
    if (port_->open(&reason))
        return true;
    op_.showMessage(PortAccess::notAvailableText(port_->portNumber(), reason));
    return false;
}

bool CommandLink::tryOpen() {
    if (port_->isOpen())
        port_->close();
    return port_->open();
}

void CommandLink::onReadyRead() {
    // Bytes that no matcher wants stay in the port: they are flushed by the next transaction or read
    // byte by byte by the bootloader dialogue.
    if (!reply_.isActive() && !streamMatcher_.isActive())
        return;
    const QByteArray bytes = port_->readAll();
    noteLooked(bytes);
    if (streamMatcher_.isActive())
        streamMatcher_.feed(bytes);
    if (reply_.isActive())
        reply_.feed(bytes);
}

void CommandLink::onReply(QByteArrayView packet) {
    // The answer is the first framed packet after the command; what follows belongs to the stream.
    if (replyReceived_)
        return;
    if (skipStreamLines_ && isStreamLine(packet, command_))
        return;
    // The device streams lines that read as this answer: none of them can be told from it.
    if (streamedLetter_ && (!skipStreamLines_ || packet.startsWith(streamedLetter_)))
        return;
    // The late answer of the command before, which went unanswered ("D:4114" while "IV" waits).
    if (skipStreamLines_ && lateLetter_ && packet.startsWith(lateLetter_) &&
        replyLetter(command_) != lateLetter_) {
        lateLetter_ = 0;
        return;
    }
    replyReceived_ = true;
    replyText_ = packet.toByteArray();
    timeoutTimer_.stop();
    if (loop_)
        loop_->quit();
}

QByteArray CommandLink::sendAndReceive(int portNumber, const QByteArray& command, int timeLimitMs,
                                       const Framing& framing, bool send) {
    if (linkKind_ == Link::Can)
        return canTransaction(command, framing);
    if (linkKind_ == Link::None)
        return {};
    if (busy_) {
        // A caller inside another transaction's wait would take over its matcher; refuse instead.
        qWarning("CommandLink: transaction '%s' refused while another is waiting",
                 command.trimmed().constData());
        return kTimeOutErr;
    }
    if (port_->portNumber() != portNumber && !movePort(portNumber))
        return kTimeOutErr;
    busy_ = true;
    replyToTerminal_ = false;
    // Text lines from any data can be a stream's; single-byte handshakes and fixed-size packets cannot. An
    // empty start string (a command file's "Answer=") takes any data too.
    const bool fromAnyData = framing.startOnAnyData || framing.start.isEmpty();
    skipStreamLines_ =
        fromAnyData && framing.useEndString && !framing.usePacketSize && !framing.includeStrings;
    command_ = command;
    reply_.disarm();
    reply_.setEnabled(false);
    // Only before a command: bytes already waiting may be the answer awaited without one. A start string
    // a stream line can begin with: the letter alone, or with the value's sign.
    const bool streamShapedStart =
        framing.start.size() == 1 ||
        (framing.start.size() == 2 && (framing.start[1] == '+' || framing.start[1] == '-'));
    if (send)
        streamedLetter_ = streamedAnswerLetter(skipStreamLines_                    ? answerLetter(command)
                                               : !fromAnyData && streamShapedStart ? framing.start.front()
                                                                                   : 0);

    reply_.setAutoEnable(false);
    reply_.setStartCondition(framing.startOnAnyData ? PacketMatcher::StartCondition::AnyData
                                                    : PacketMatcher::StartCondition::String);
    reply_.setStartString(framing.start);
    reply_.setEndString(framing.end);
    reply_.setEndConditions((framing.useEndString ? PacketMatcher::EndString : 0) |
                            (framing.usePacketSize ? PacketMatcher::EndPacketSize : 0));
    reply_.setIncludeStrings(framing.includeStrings);
    reply_.setPacketSize(framing.packetSize);
    reply_.arm();
    reply_.setEnabled(true);
    reply_.setAutoEnable(true);

    const QByteArray reply = sendAndAwait(send ? &command : nullptr, timeLimitMs);
    endTransaction();
    return reply;
}

bool CommandLink::movePort(int portNumber) {
    // The port follows the number: a transaction never talks to one device while the program names
    // another.
    const bool wasOpen = port_->isOpen();
    port_->setPortNumber(portNumber);
    emit portNumberChanged(portNumber);
    if (!wasOpen)
        return true;
    QString reason;
    if (port_->open(&reason))
        return true;
    op_.showMessage(PortAccess::notAvailableText(portNumber, reason));
    return false;
}

QByteArray CommandLink::canTransaction(const QByteArray& command, const Framing& framing) {
    if (busy_) {
        // Called from inside another exchange's wait, which cannot end before this call returns: the
        // command goes to the device once that exchange is over, and this caller hears no answer.
        qWarning("CommandLink: CAN transaction '%s' sent after the one waiting now; no answer taken",
                 command.trimmed().constData());
        if (can_)
            runExclusive(
                [this, command] {
                    if (can_)
                        can_->exchange(command);
                },
                WhenBusy::Queue);
        return kTimeOutErr;
    }
    std::optional<QByteArray> answer;
    // The bridge waits for its answers with the event loop running: timer-driven callers must wait.
    if (can_)
        runExclusive([&] { answer = can_->exchange(command); });
    QByteArray reply = answer.value_or(QByteArray());
    if (reply == kTimeOutErr + '\r')
        return kTimeOutErr;
    if (!framing.includeStrings) {
        if (!framing.start.isEmpty()) {
            const qsizetype at = reply.indexOf(framing.start);
            if (at >= 0)
                reply.remove(at, framing.start.size());
        }
        if (!framing.end.isEmpty()) {
            const qsizetype at = reply.indexOf(framing.end);
            if (at >= 0)
                reply.remove(at, framing.end.size());
        }
    }
    return reply.isEmpty() ? kTimeOutErr : reply;
}

QByteArray CommandLink::sendAndReceiveLive(int, QByteArray command, int timeLimitMs) {
    if (busy_) {
        qWarning("CommandLink: live transaction refused while another is waiting");
        return kTimeOutErr;
    }
    busy_ = true;
    replyToTerminal_ = false;
    streamMatcher_.disarm();
    streamMatcher_.setEnabled(false);
    streamMatcher_.setAutoEnable(false);

    const qsizetype plus = command.indexOf('+');
    if (plus >= 0)
        command.remove(plus, 1);

    reply_.disarm();
    reply_.setEnabled(false);
    reply_.setAutoEnable(false);
    reply_.setIncludeStrings(false);
    reply_.setEndString("\r");
    reply_.setStartCondition(PacketMatcher::StartCondition::AnyData);
    reply_.setEndConditions(PacketMatcher::EndString);
    reply_.arm();
    reply_.setEnabled(true);
    reply_.setAutoEnable(true);

    command += '\r';
    skipStreamLines_ = true;
    command_ = command;
    reply_.setEnabled(false);
    streamedLetter_ = streamedAnswerLetter(answerLetter(command));
    reply_.setEnabled(true);
    const QByteArray reply = sendAndAwait(&command, timeLimitMs);
    streamMatcher_.arm();
    streamMatcher_.setEnabled(true);
    streamMatcher_.setAutoEnable(true);
    endTransaction();
    return reply;
}

QByteArray CommandLink::sendAndAwait(const QByteArray* command, int timeLimitMs) {
    replyText_.clear();
    replyReceived_ = false;
    timedOut_ = false;
    if (command) {
        // Bytes already accepted for sending go out first (emptying the transmit side would cut them);
        // what came in meanwhile is no answer to this command.
        port_->drainOutput(kDrainLimitMs);
        port_->clearInput();
        port_->write(*command);
    }
    lastLook_ = false;
    timeoutTimer_.start(TimeScale::ms(timeLimitMs));

    QEventLoop loop;
    loop_ = &loop;
    // Bytes may already be waiting (a fast device, or data the port read during the write).
    if (port_->bytesAvailable() > 0)
        onReadyRead();
    if (!replyReceived_ && !timedOut_ && port_->isOpen())
        loop.exec();
    loop_ = nullptr;
    timeoutTimer_.stop();

    reply_.disarm();
    reply_.setEnabled(false);
    reply_.setAutoEnable(false);
    reply_.setIncludeStrings(false);
    // A command that went unanswered may still be answered, during the next transaction: that one then
    // passes over a line of this command's answer.
    lateLetter_ = !replyReceived_ && command ? replyLetter(*command) : 0;
    return replyReceived_ ? replyText_ : kTimeOutErr;
}

bool CommandLink::isStreamLine(QByteArrayView packet, QByteArrayView command) {
    const QByteArrayView mnemonic = command.first(std::min<qsizetype>(2, command.size()));
    // The "\r" of a line cut by the flush.
    if (packet.isEmpty())
        return true;
    // Status packets carry binary bytes; answers are printable text. "GP" asks for a packet itself.
    if (mnemonic != "GP")
        for (const char c : packet)
            if (static_cast<uchar>(c) < 0x20 || static_cast<uchar>(c) >= 0x7f)
                return true;
    char letter = 0;
    QByteArrayView body = packet;
    if (body.front() >= 'A' && body.front() <= 'Z') {
        letter = body.front();
        body = body.sliced(1);
    }
    // A value line's value: sign, digits, at most one point; or the over- and under-range words.
    const bool rangeWord = body == "ooooooo" || body == "uuuuuuu";
    if (!rangeWord) {
        qsizetype i = 0;
        while (i < body.size() && body[i] == ' ')
            ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-'))
            ++i;
        int digits = 0;
        int points = 0;
        for (; i < body.size(); ++i) {
            if (body[i] >= '0' && body[i] <= '9')
                ++digits;
            else if (body[i] == '.' && points == 0)
                ++points;
            else
                return false;
        }
        if (digits == 0)
            return false;
    }
    if (letter == 0)
        return true; // a bare number: the tail of a value line
    if (!isStreamLetter(letter))
        return false;
    // A command that asks for a line of the stream's kind, or whose own answer starts with its letter
    // ("AG" and "CG" answer "G+10000", "AD" "A +00000"), takes such a line as its answer.
    return !asksForStreamKind(command, letter) && answerLetter(command) != letter;
}

bool CommandLink::isStreamLetter(char letter) {
    return letter == 'G' || letter == 'N' || letter == 'A';
}

bool CommandLink::asksForStreamKind(QByteArrayView command, char letter) {
    // The stream kinds, and the commands that ask for a line of that kind.
    struct Kind {
        char letter;
        const char* askers[3];
    };
    static constexpr Kind kKinds[] = {
        {'G', {"GG", "SG", "G\r"}}, {'N', {"GN", "SN", nullptr}}, {'A', {"GA", "SA", nullptr}}};
    const QByteArrayView mnemonic = command.first(std::min<qsizetype>(2, command.size()));
    for (const Kind& kind : kKinds)
        if (kind.letter == letter)
            for (const char* asker : kind.askers)
                if (asker && (mnemonic == asker || command.startsWith(asker)))
                    return true;
    return false;
}

namespace {
const CommandEntry* tableRow(QByteArrayView command) {
    const QByteArrayView mnemonic = command.first(std::min<qsizetype>(2, command.size()));
    const std::optional<std::size_t> row =
        findCommandRow(std::string_view(mnemonic.data(), static_cast<std::size_t>(mnemonic.size())));
    return row ? &kCommandTable[*row] : nullptr;
}
} // namespace

char CommandLink::answerLetter(QByteArrayView command) {
    // Only an answer of a stream line's shape: a letter, perhaps a blank, then the value ("G+10000",
    // "A +00000"); a set-point's "A1:+00150" is none.
    const CommandEntry* row = tableRow(command);
    return row && !row->isSetpointRow() && (row->prefix2 == 0 || row->prefix2 == ' ') ? row->prefix1 : 0;
}

char CommandLink::replyLetter(QByteArrayView command) {
    const CommandEntry* row = tableRow(command);
    return row ? row->prefix1 : 0;
}

char CommandLink::streamedAnswerLetter(char letter) {
    if (!isStreamLetter(letter) || asksForStreamKind(command_, letter))
        return 0;
    // A command that starts a stream ("SN" answered from "G" when the device is found again) looks for no
    // answer of its own to tell apart, and must not be held up.
    for (const char* starter : {"SG", "SN", "SA", "GP"})
        if (command_.startsWith(starter))
            return 0;
    // A look at what came and at what comes for a while, which a stream at its slowest rate fills. What
    // the device sends, not what the program's reader waits for: a transmitter may stream gross values
    // from power-on while the net ones are chosen.
    lookLetter_ = letter;
    streamSeen_ = false;
    garbled_ = false;
    noteLooked(port_->readAll());
    // Bytes that are no text (a line at another rate, what a port just opened still held) hide whether a
    // stream runs: the look goes on until a while passes without them.
    for (int look = 0; look < kStreamLooks && !streamSeen_ && port_->isOpen() && (look == 0 || garbled_);
         ++look) {
        garbled_ = false;
        waitMs(kStreamLookMs, false);
        noteLooked(port_->readAll());
    }
    lookLetter_ = 0;
    return streamSeen_ ? letter : 0;
}

void CommandLink::noteLooked(const QByteArray& bytes) {
    if (!lookLetter_)
        return;
    if (bytes.startsWith(lookLetter_) || bytes.contains(QByteArray{'\r', lookLetter_}))
        streamSeen_ = true;
    for (const char c : bytes)
        if ((static_cast<uchar>(c) < 0x20 && c != '\r') || static_cast<uchar>(c) >= 0x7f)
            garbled_ = true;
}

void CommandLink::endTransaction() {
    skipStreamLines_ = false;
    streamedLetter_ = 0;
    if (terminalMode_)
        applyTerminalMode();
    busy_ = false;
    runIdleQueueLater();
}

void CommandLink::runIdleQueueLater() {
    if (idleQueue_.isEmpty() || held_)
        return;
    // Deferred callers run from the event loop, never inside the caller that just finished.
    QTimer::singleShot(0, this, [this] {
        while (!busy_ && !held_ && !idleQueue_.isEmpty())
            idleQueue_.takeFirst()();
    });
}

void CommandLink::setHeld(bool held) {
    if (held_ == held)
        return;
    held_ = held;
    if (!held_ && !busy_)
        runIdleQueueLater();
}

void CommandLink::setTerminalMode(bool on) {
    terminalMode_ = on;
    if (busy_)
        return; // the waiting transaction owns the matcher; its end applies the mode
    if (on) {
        applyTerminalMode();
        return;
    }
    replyToTerminal_ = false;
    reply_.disarm();
    reply_.setEnabled(false);
    reply_.setAutoEnable(false);
}

void CommandLink::applyTerminalMode() {
    replyToTerminal_ = true;
    reply_.setStartCondition(PacketMatcher::StartCondition::AnyData);
    reply_.setStartString(QByteArray());
    reply_.setEndString("\r");
    reply_.setEndConditions(PacketMatcher::EndString);
    reply_.setIncludeStrings(false);
    reply_.setPacketSize(0);
    reply_.arm();
    reply_.setEnabled(true);
    reply_.setAutoEnable(true);
}

void CommandLink::runWhenIdle(std::function<void()> fn) {
    if (!busy_ && !held_) {
        fn();
        return;
    }
    idleQueue_.append(std::move(fn));
}

bool CommandLink::runExclusive(const std::function<void()>& work, WhenBusy whenBusy) {
    if (busy_ || held_) {
        if (whenBusy == WhenBusy::Queue)
            runWhenIdle([this, work] { runExclusive(work, WhenBusy::Queue); });
        return false;
    }
    busy_ = true;
    work();
    endTransaction();
    return true;
}

void CommandLink::waitSlice(int ms) {
    QEventLoop loop;
    QTimer::singleShot(TimeScale::ms(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool CommandLink::serialPortLost() const {
    return linkKind_ != Link::Can && !port_->isOpen();
}

bool CommandLink::pauseUnlessPortLost(int deviceMs, bool userInput) {
    constexpr int kSliceMs = 50;
    for (int waited = 0; waited < deviceMs && !serialPortLost(); waited += kSliceMs)
        waitMs(std::min(kSliceMs, deviceMs - waited), userInput);
    return !serialPortLost();
}

quint8 CommandLink::receiveByte(int maxPolls) {
    quint8 result = 255;
    if (!port_->isOpen())
        return result;
    int polls = maxPolls;
    // A port lost while polling ends the wait at once.
    while (polls > 0 && result == 255 && port_->isOpen()) {
        if (port_->bytesAvailable() == 0)
            port_->waitForReadyRead(1);
        --polls;
        char byte = 0;
        if (port_->bytesAvailable() > 0 && port_->readByte(&byte))
            result = static_cast<quint8>(byte);
    }
    return result;
}

void CommandLink::sendByte(quint8 byte) {
    drainOutput(kDrainLimitMs);
    port_->clearInput();
    port_->write(QByteArray(1, static_cast<char>(byte)));
}

bool CommandLink::drainOutput(int timeLimitMs) {
    return port_->drainOutput(timeLimitMs);
}

bool CommandLink::writeRaw(const QByteArray& bytes) {
    if (linkKind_ == Link::Can) {
        // On the CAN link the bridge is the device's line: a stream start or stop written without a
        // transaction must reach the device there too. A lone "\r" means nothing on CAN.
        if (!can_ || bytes.trimmed().isEmpty())
            return false;
        std::optional<QByteArray> answer;
        if (!runExclusive([&] { answer = can_->exchange(bytes); }))
            return false;
        // The bridge's answer is the line the device sent back; the terminal shows it as it shows a
        // line from the serial port.
        if (terminalMode_ && terminalSink_ && answer)
            for (const QByteArray& line : answer->split('\r'))
                if (!line.isEmpty())
                    terminalSink_(line);
        return true;
    }
    return port_->write(bytes);
}

} // namespace tarvo
