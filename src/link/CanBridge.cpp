#include "CanBridge.h"

#include "CanLineParser.h"
#include "CanReplyText.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "protocol/CommandTable.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <cmath>

namespace tarvo {

namespace {
// Function codes: the identifier shifted right by seven.
constexpr std::uint32_t kParameterAnswerCode = 11;
constexpr std::uint32_t kProcessFrame1 = 3;
constexpr std::uint32_t kProcessFrame2 = 5;
constexpr std::uint32_t kProcessFrame3 = 7;
constexpr std::uint32_t kProcessFrame4 = 9;

constexpr std::uint8_t kWriteCommand = 0x23;
constexpr std::uint8_t kReadCommand = 0x40;
// A write's confirmation; a read's answers are 0x4n (n by the value's size).
constexpr std::uint8_t kWriteConfirmation = 0x60;
constexpr std::uint8_t kNetworkStart = 0x01;
constexpr std::uint8_t kNetworkStop = 0x02;

constexpr std::uint16_t kDecimalObject = 0x2300;
constexpr std::uint8_t kDecimalSubIndex = 11;
constexpr std::uint16_t kTareObject = 0x2900;
constexpr std::uint8_t kTareSubIndex = 3;
constexpr int kDecimalsWhenUnread = 3;

// Waits for answers: a parameter read 2000 polls 5 ms apart, a save 500. The other answers are polled
// every 10 ms for at most 100 polls (a zero calibration 1000) rather than taken from a single read, so a
// device that answers a little late is not reported as silent.
constexpr int kReadPolls = 2000;
constexpr int kSavePolls = 500;
constexpr int kFastSpacingMs = 5;
constexpr int kAnswerPolls = 100;
constexpr int kCalibrationPolls = 1000;
constexpr int kAnswerSpacingMs = 10;

const QByteArray kOk = QByteArrayLiteral("OK");
const QByteArray kErr = QByteArrayLiteral("ERR");
const QByteArray kTimeOut = QByteArrayLiteral("TimeOutErr\r");

bool isAddressed(std::uint16_t index) {
    return index >= 0x2100 && index <= 0x3FFF;
}

// Marks work that reads the receive queue itself; the poll stays away meanwhile, or it would take the
// answers that work waits for.
class QueueHeld {
public:
    explicit QueueHeld(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
    ~QueueHeld() { flag_ = before_; }
    QueueHeld(const QueueHeld&) = delete;
    QueueHeld& operator=(const QueueHeld&) = delete;

private:
    bool& flag_;
    bool before_;
};
} // namespace

CanBridge::CanBridge(CanAdapter& adapter, Operator& op, QObject* parent)
    : QObject(parent), adapter_(adapter), op_(op) {
    pollTimer_.setInterval(kPollMs);
    connect(&pollTimer_, &QTimer::timeout, this, &CanBridge::pollTick);
    pollTimer_.start();
}

CanBridge::~CanBridge() {
    pollTimer_.stop();
    if (const std::uint32_t code = adapter_.close())
        report(code);
}

void CanBridge::close() {
    pollTimer_.stop();
    decimalsKnown_ = false;
    reporting_ = false;
    lineCallback_ = {};
    frameCallback_ = {};
    linkOpen_ = false;
    adapter_.close();
}

void CanBridge::setDeviceAddress(int address) {
    if (address >= 0 && address < 64 && address != deviceAddress_) {
        deviceAddress_ = address;
        decimalsKnown_ = false; // another device, perhaps with another decimal count
    }
}

void CanBridge::setNodeId(int nodeId) {
    if (nodeId >= 1 && nodeId <= kCanNodeCount && nodeId != nodeId_) {
        nodeId_ = nodeId;
        decimalsKnown_ = false;
    }
}

void CanBridge::setSpeedPosition(int position) {
    if (position >= 0 && position < static_cast<int>(kCanBitRates.size()))
        speedPosition_ = position;
}

void CanBridge::speedChosen(int position) {
    setSpeedPosition(position);
    adapter_.close();
    linkOpen_ = false;
    decimalsKnown_ = false;
    const CanBitRate& rate = kCanBitRates[static_cast<std::size_t>(speedPosition_)];
    op_.showMessage(QStringLiteral("%1").arg(rate.btr, 4, 16, QLatin1Char('0')).toUpper(),
                    QString::fromLatin1(rate.name.data(), static_cast<qsizetype>(rate.name.size())));
}

qint64 CanBridge::timeLeft(qint64 wanted) const {
    if (timeLimitMs_ <= 0 || !exchangeClock_.isValid())
        return wanted;
    return std::max<qint64>(0, std::min<qint64>(wanted, timeLimitMs_ - exchangeClock_.elapsed()));
}

void CanBridge::pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(timeLeft(TimeScale::ms(ms))), Qt::PreciseTimer, &loop,
                       &QEventLoop::quit);
    // Clicks wait for the exchange to end, so a page switched meanwhile cannot start one inside it.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void CanBridge::report(std::uint32_t code) {
    if (!reporting_)
        return;
    std::optional<QString> text = CanReplyText::errorReport(code);
    if (!text)
        return;
    // The codes alone do not tell an operator that a driver is missing or a rate did not take.
    if (!adapter_.problem().isEmpty())
        *text += QLatin1Char('\r') + adapter_.problem();
    op_.showMessage(*text, QString::fromLatin1(CanReplyText::kErrorCaption), MessageIcon::Warning);
}

bool CanBridge::ensureOpen() {
    if (linkOpen_)
        return true;
    if (!pollTimer_.isActive())
        return false; // closed for good
    const std::uint32_t code = adapter_.init(kCanBitRates[static_cast<std::size_t>(speedPosition_)].btr, 0);
    pause(200);
    if (code != 0) {
        // The link stays closed, so the next command tries again once the adapter is there.
        report(code);
        return false;
    }
    linkOpen_ = true;
    if (reporting_ && !adapter_.notice().isEmpty())
        op_.showMessage(adapter_.notice(), QString::fromLatin1(CanReplyText::kErrorCaption),
                        MessageIcon::Warning);
    return true;
}

std::uint32_t CanBridge::send(std::uint32_t id, std::initializer_list<std::uint8_t> bytes) {
    CanMessage m;
    m.id = id;
    m.length = static_cast<std::uint8_t>(bytes.size());
    std::size_t i = 0;
    for (std::uint8_t b : bytes)
        m.data[i++] = b;
    return adapter_.write(m);
}

std::uint32_t CanBridge::sendParameter(std::uint8_t command, std::uint16_t index, std::uint8_t sub,
                                       std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    return send(0x600 + static_cast<std::uint32_t>(nodeId_),
                {command, static_cast<std::uint8_t>(index & 0xFF), static_cast<std::uint8_t>(index >> 8), sub,
                 static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

std::uint32_t CanBridge::sendNetwork(std::uint8_t command) {
    return send(0, {command});
}

std::uint32_t CanBridge::sendProcessCommand(int channel, std::uint8_t mask) {
    const std::uint32_t base = channel == 1 ? 0x200 : 0x300;
    return send(base + static_cast<std::uint32_t>(nodeId_),
                {static_cast<std::uint8_t>(deviceAddress_), mask});
}

std::uint32_t CanBridge::readFrame(CanMessage* message) {
    const std::uint32_t code = adapter_.read(message);
    if (code != 0 && message->length > 8) {
        // The adapter itself went away: the link closes, and the next command opens it again.
        const bool wasOpen = linkOpen_;
        const QString reason = adapter_.problem();
        adapter_.close();
        linkOpen_ = false;
        decimalsKnown_ = false;
        if (wasOpen)
            emit adapterLost(reason);
    }
    return code;
}

bool CanBridge::answers(const CanMessage& m, Request kind, std::uint16_t index, std::uint8_t sub) const {
    // The chosen node's parameter answer: another node on the bus may answer the same object.
    if (m.type != 0 || m.id != (kParameterAnswerCode << 7) + static_cast<std::uint32_t>(nodeId_) ||
        m.length < 4 || (m.data[1] | (m.data[2] << 8)) != index || m.data[3] != sub)
        return false;
    const std::uint8_t command = m.data[0];
    if (command & 0x80)
        return true; // refused, whatever was asked
    // A write's confirmation carries no value, and a read's answer confirms no write.
    return kind == Request::Write ? command == kWriteConfirmation : (command & 0xF0) == kReadCommand;
}

bool CanBridge::lateAnswer(const CanMessage& m) const {
    // A device answers within the longest wait, or not at all.
    return unanswered_ && unanswered_->since.elapsed() <= TimeScale::ms(kReadPolls * kFastSpacingMs) &&
           answers(m, unanswered_->kind, unanswered_->index, unanswered_->sub);
}

CanBridge::Answer CanBridge::awaitAnswer(Request kind, std::uint16_t index, std::uint8_t sub, int polls,
                                         int spacingMs) {
    Answer answer;
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = timeLeft(TimeScale::ms(polls * spacingMs));
    bool lastLook = false;
    bool passedOver = false;
    for (;;) {
        answer.code = readFrame(&answer.message);
        const CanMessage& m = answer.message;
        if (answer.code == 0) {
            // The late answer to an earlier request for the same object is not this one's: it may confirm a
            // value the device is about to refuse.
            if (lateAnswer(m)) {
                unanswered_.reset();
                passedOver = true;
                continue;
            }
            // Only the answer to this request counts: a late answer to an earlier one names another object.
            if (answers(m, kind, index, sub))
                return answer;
            continue; // frames read here are lost to the stream
        }
        if (answer.code != CanStatus::kQueueEmpty)
            return answer;
        const qint64 left = limit - clock.elapsed();
        if (left <= 0) {
            // An answer that came in time can still be on its way to the adapter's queue when this
            // thread was held up past the limit (a loaded machine): one more poll's time is given to it.
            if (lastLook) {
                // Its answer may still come. Not after passing one over, which may have been this
                // request's own: a device that once did not answer would otherwise lose every answer after.
                if (!passedOver) {
                    unanswered_.emplace(Unanswered{kind, index, sub, {}});
                    unanswered_->since.start();
                }
                return answer;
            }
            lastLook = true;
        }
        const qint64 slice = TimeScale::ms(spacingMs);
        adapter_.waitForFrames(static_cast<int>(left > 0 ? std::min(left, slice) : slice));
    }
}

std::optional<std::int32_t> CanBridge::readObject(std::uint16_t index, std::uint8_t sub, bool* answered) {
    if (answered)
        *answered = false;
    if (sendParameter(kReadCommand, index, sub, 0) != 0)
        return std::nullopt;
    const Answer answer = awaitAnswer(Request::Read, index, sub, kReadPolls, kFastSpacingMs);
    if (answered)
        *answered = answer.code == 0;
    if (answer.code != 0 || answer.refused() || answer.message.length != 8)
        return std::nullopt;
    return CanReplyText::integerAt(answer.message, 4);
}

bool CanBridge::startsProcessChannel(QByteArrayView line) {
    const QByteArrayView head = line.first(std::min<qsizetype>(2, line.size()));
    return head == "SN" || head == "SG" || head == "SA" || head == "GP";
}

bool CanBridge::startProcessChannel() {
    const QueueHeld held(exchanging_);
    deviceHeardStart_ = false;
    if (!ensureOpen())
        return false;
    if (const std::uint32_t code = sendNetwork(kNetworkStart)) {
        report(code);
        return false;
    }
    pause(20);
    deviceHeardStart_ = readDecimals();
    return true;
}

bool CanBridge::readDecimals() {
    // The decimal count lives in the addressed device's object like every object of 0x2100..0x3FFF.
    bool answered = false;
    const std::optional<std::int32_t> decimals =
        readObject(static_cast<std::uint16_t>(kDecimalObject + deviceAddress_), kDecimalSubIndex, &answered);
    decimalCount_ = decimals ? *decimals : kDecimalsWhenUnread;
    decimalsKnown_ = decimals.has_value();
    return answered;
}

void CanBridge::stopProcessChannel() {
    if (!linkOpen_)
        return;
    if (const std::uint32_t code = sendNetwork(kNetworkStop))
        report(code);
}

std::optional<QByteArray> CanBridge::exchange(const QByteArray& commandLine) {
    const QueueHeld held(exchanging_);
    exchangeClock_.start();

    CanLineParser parser(commandLine);
    const CanLineParser::Token first = parser.next();
    std::optional<std::size_t> row;
    if (first.kind == CanLineParser::Token::Kind::Word)
        row = findCommandRow(
            std::string_view(first.word.constData(), static_cast<std::size_t>(first.word.size())));
    if (!row) {
        lastRow_ = -1;
        return specialLine(parser.line());
    }
    lastRow_ = static_cast<int>(*row);
    const CommandEntry& entry = kCommandTable[*row];
    std::uint16_t index = entry.objectIndex;
    if (isAddressed(index))
        index = static_cast<std::uint16_t>(index + deviceAddress_);

    switch (entry.kind) {
    case 0:
        return confirmedAction(entry, index, 0, false, kCalibrationPolls, kAnswerSpacingMs);
    case 1:
        return parameter(entry, index, parser);
    case 2:
        return setpoint(entry, index, parser);
    case 3:
        return measured(entry, index);
    case 5:
        return confirmedAction(entry, index, deviceAddress_, true, kSavePolls, kFastSpacingMs);
    case 6:
    case 7:
        if (!ensureOpen())
            return kTimeOut;
        if (const std::uint32_t code = sendProcessCommand(
                entry.kind == 6 ? 1 : 2, static_cast<std::uint8_t>(entry.objectIndex & 0xFF))) {
            report(code);
            return kTimeOut;
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

QByteArray CanBridge::specialLine(const QByteArray& line) {
    const QByteArray head = line.left(2);
    if (head == "OP") {
        bool ok = false;
        const int number = line.mid(2, line.size() - 3).toInt(&ok);
        if (!ok)
            return kTimeOut;
        setDeviceAddress(number & 0xFF);
        return "OK\r";
    }
    if (head == "DX")
        return "X:001\r"; // the CAN link is always full duplex
    if (head == "SA" || head == "SN" || head == "SG" || head == "GP") {
        if (!startProcessChannel())
            return kTimeOut;
        std::uint32_t code = 0;
        if (head == "SA") {
            code = sendProcessCommand(2, 0x02);
        } else if (head == "GP") {
            pause(20);
            // The tare object is an IEEE single, as "GT" and the third process frame carry it.
            const std::uint16_t tareObject = static_cast<std::uint16_t>(kTareObject + deviceAddress_);
            if (sendParameter(kReadCommand, tareObject, kTareSubIndex, 0) == 0) {
                const Answer answer =
                    awaitAnswer(Request::Read, tareObject, kTareSubIndex, kReadPolls, kFastSpacingMs);
                const float tare = CanReplyText::floatAt(answer.message, 4);
                if (answer.code == 0 && !answer.refused() && answer.message.length == 8 &&
                    std::isfinite(tare))
                    storedTare_ = tare;
            }
            streamMode_ = 'P';
            pause(20);
            code = sendProcessCommand(1, 0x80);
        } else {
            streamMode_ = head == "SN" ? 'N' : 'G';
            code = sendProcessCommand(1, head == "SN" ? 0x80 : 0x40);
        }
        // "OK" only for a frame the adapter wrote.
        if (code != 0) {
            report(code);
            return kTimeOut;
        }
        return "OK\r";
    }
    return kErr;
}

std::optional<QByteArray> CanBridge::parameter(const CommandEntry& row, std::uint16_t index,
                                               CanLineParser& parser) {
    if (!ensureOpen())
        return kTimeOut;
    if (const std::uint32_t code = sendNetwork(kNetworkStop)) {
        report(code);
        return kTimeOut;
    }
    pause(50);
    const CanLineParser::Token token = parser.next();
    if (token.kind == CanLineParser::Token::Kind::End) {
        if (const std::uint32_t code = sendParameter(kReadCommand, index, row.subIndex, 0)) {
            report(code);
            return kTimeOut;
        }
        const Answer answer = awaitAnswer(Request::Read, index, row.subIndex, kReadPolls, kFastSpacingMs);
        if (answer.code != 0) {
            if (answer.code == CanStatus::kWaitTimeout)
                op_.showMessage(QStringLiteral("WAIT_TIMEOUT"), QStringLiteral("CAN"));
            else
                report(answer.code);
            return kTimeOut;
        }
        if (answer.refused() || answer.message.length != 8)
            return kErr + '\r';
        return replyPrefix(row) + CanReplyText::parameterValue(row, answer.message) + '\r';
    }
    if (token.kind == CanLineParser::Token::Kind::Number) {
        const QByteArray reply =
            confirmedAction(row, index, token.number, false, kAnswerPolls, kAnswerSpacingMs);
        if (reply == kOk && row.mnemonic1 == 'D' && row.mnemonic2 == 'P') {
            decimalCount_ = token.number;
            decimalsKnown_ = true;
        }
        return reply;
    }
    return kErr;
}

QByteArray CanBridge::confirmedAction(const CommandEntry& row, std::uint16_t index, std::int32_t value,
                                      bool networkStop, int polls, int spacingMs) {
    if (!ensureOpen())
        return kTimeOut;
    if (networkStop) {
        if (const std::uint32_t code = sendNetwork(kNetworkStop)) {
            report(code);
            return kTimeOut;
        }
        pause(50);
    }
    if (const std::uint32_t code = sendParameter(kWriteCommand, index, row.subIndex, value)) {
        report(code);
        return kTimeOut;
    }
    pause(10);
    const Answer answer = awaitAnswer(Request::Write, index, row.subIndex, polls, spacingMs);
    if (answer.code != 0) {
        report(answer.code);
        return kTimeOut;
    }
    // A confirmation is a whole answer like any other; a cut-off one confirms nothing.
    return answer.refused() || answer.message.length != 8 ? kErr : kOk;
}

QByteArray CanBridge::setpoint(const CommandEntry& row, std::uint16_t index, CanLineParser& parser) {
    const CanLineParser::Token number = parser.next();
    if (number.kind != CanLineParser::Token::Kind::Number || number.number < 0 || number.number > 3)
        return kErr;
    const auto sub = static_cast<std::uint8_t>(number.number + 1);
    QByteArray text = QByteArray(1, row.prefix1) + QByteArray::number(number.number) + ':';
    const CanLineParser::Token next = parser.next();
    if (next.kind != CanLineParser::Token::Kind::End && next.kind != CanLineParser::Token::Kind::Number)
        return kErr;
    if (!ensureOpen())
        return kTimeOut;
    const bool write = next.kind == CanLineParser::Token::Kind::Number;
    if (const std::uint32_t code =
            sendParameter(write ? kWriteCommand : kReadCommand, index, sub, write ? next.number : 0)) {
        report(code);
        return kTimeOut;
    }
    if (write)
        pause(10);
    const Answer answer =
        awaitAnswer(write ? Request::Write : Request::Read, index, sub, kAnswerPolls, kAnswerSpacingMs);
    if (answer.code != 0) {
        report(answer.code);
        return kTimeOut;
    }
    if (write)
        return answer.refused() || answer.message.length != 8 ? kErr : kOk;
    // Without its value bytes the answer says nothing of the setpoint.
    if (answer.refused() || answer.message.length != 8)
        return kErr + '\r';
    return text + CanReplyText::signedFive(CanReplyText::integerAt(answer.message, 4)) + '\r';
}

QByteArray CanBridge::measured(const CommandEntry& row, std::uint16_t index) {
    if (!ensureOpen())
        return kTimeOut;
    // The value is formatted by the device's decimal count, so that count is known before the first one.
    if (!decimalsKnown_)
        readDecimals();
    if (const std::uint32_t code = sendParameter(kReadCommand, index, row.subIndex, 0)) {
        report(code);
        return kTimeOut;
    }
    const Answer answer = awaitAnswer(Request::Read, index, row.subIndex, kAnswerPolls, kAnswerSpacingMs);
    if (answer.code != 0) {
        report(answer.code);
        return kTimeOut;
    }
    if (answer.refused())
        return kErr + '\r';
    if (answer.message.length != 8)
        return kTimeOut;
    const std::optional<QByteArray> value =
        CanReplyText::measuredValue(CanReplyText::floatAt(answer.message, 4), decimalCount_);
    if (!value)
        return kErr + '\r';
    return QByteArray(1, row.prefix1) + *value + '\r';
}

void CanBridge::pollTick() {
    // Never inside an exchange (it reads the same queue) nor inside itself (a line's handler may wait).
    if (!linkOpen_ || exchanging_ || polling_)
        return;
    const QueueHeld held(polling_);
    for (int n = 0; n < kPollFrameLimit && linkOpen_; ++n) {
        CanMessage m;
        const std::uint32_t code = readFrame(&m);
        if (code != 0) {
            if (!linkOpen_)
                report(code); // the adapter went away
            return;
        }
        frameReceived(m);
    }
}

void CanBridge::frameReceived(const CanMessage& m) {
    if (m.type != 0 || m.length > 8)
        return;
    const std::uint32_t function = m.id >> 7;
    // The late answer to a request that went unanswered came between exchanges: no later one waits for it.
    if (function == kParameterAnswerCode && lateAnswer(m))
        unanswered_.reset();
    // Frames of the chosen node only: another device's weights are not this one's.
    if ((m.id & 0x7F) != static_cast<std::uint32_t>(nodeId_))
        return;
    line_.clear();
    switch (function) {
    case kProcessFrame1:
        if (m.length < 4)
            return;
        if (streamMode_ == 'P') {
            // Unless the device told its decimal count, the frame's own decimal nibble scales the digits, so
            // that they agree with the decimal point the packet carries.
            const int decimals = decimalsKnown_ ? decimalCount_ : (m.data[7] >> 4) & 0x07;
            const std::optional<QByteArray> packet = CanReplyText::statusPacket(m, storedTare_, decimals);
            if (!packet)
                return;
            line_ = *packet;
        } else if (m.data[3] != 0) {
            const std::optional<QByteArray> value =
                CanReplyText::measuredValue(CanReplyText::floatAt(m, 0), decimalCount_);
            if (!value)
                return;
            line_ = streamMode_ + *value;
        } else {
            line_ = streamMode_ + QByteArray("+") + QByteArray::number(CanReplyText::integerAt(m, 0));
        }
        break;
    case kProcessFrame2:
        if (m.data[6] != 0) {
            if (frameCallback_)
                frameCallback_(static_cast<int>(function), m.length, m.data);
            return;
        }
        if (m.length < 4)
            return;
        if (m.data[3] != 0) {
            const std::optional<QByteArray> value =
                CanReplyText::measuredValue(CanReplyText::floatAt(m, 0), decimalCount_);
            if (!value)
                return;
            line_ = "A" + *value;
        } else {
            line_ = "A+" + QByteArray::number(CanReplyText::integerAt(m, 0));
        }
        break;
    case kProcessFrame3: {
        const float tare = CanReplyText::floatAt(m, 0);
        if (m.length >= 4 && std::isfinite(tare))
            storedTare_ = tare;
        if (frameCallback_)
            frameCallback_(static_cast<int>(function), m.length, m.data);
        return;
    }
    case kProcessFrame4:
        if (frameCallback_)
            frameCallback_(static_cast<int>(function), m.length, m.data);
        return;
    default:
        return;
    }
    line_ += '\r';
    if (lineCallback_)
        lineCallback_(line_);
}

} // namespace tarvo
