#include "CalibrationWizard.h"

#include "base/EventWait.h"
#include "base/NumberText.h"
#include "base/Operator.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"
#include "protocol/Discovery.h"

#include <algorithm>

namespace tarvo {

namespace {
// Models whose filter mode and update rate are set to 0 first: their calibration needs the plain filter.
constexpr std::array<int, 5> kPlainFilterModels{4113, 4114, 4310, 4313, 4314};
constexpr int kLoadDigits = 5;
constexpr long long kMaxLoad = 65535;
constexpr int kReadingLimitMs = 200;
// Longer than the slowest stream's period (4.69 samples a second).
constexpr int kQuietCheckMs = 300;

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}
} // namespace

CalibrationWizard::CalibrationWizard(CommandLink& link, Discovery& discovery, Operator& op,
                                     CalibrationHooks hooks, QObject* parent)
    : QObject(parent), link_(link), discovery_(discovery), op_(op), hooks_(std::move(hooks)) {
    connect(&link_, &CommandLink::portLost, this, [this](int number, const QString& reason) {
        if (state_ == State::Running)
            portLost_ = QStringLiteral("COM%1 not available: %2").arg(number).arg(reason);
    });
}

QString CalibrationWizard::loadProblem(const QString& load) {
    if (load.size() > kLoadDigits)
        return text(kLoadTooLong);
    if (load.isEmpty())
        return text(kLoadEmpty);
    if (!std::all_of(load.begin(), load.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return QString::fromUtf16(kLoadCharacter);
    if (load.toLongLong() > kMaxLoad)
        return text(kLoadRange);
    return {};
}

void CalibrationWizard::setLoadText(const QString& load) {
    if (load_ == load)
        return;
    load_ = load;
    emit changed();
}

void CalibrationWizard::setDecimalPoint(int index) {
    index = std::clamp(index, 0, int(kDecimalPoints.size()) - 1);
    if (decimalPoint_ == index)
        return;
    decimalPoint_ = index;
    emit changed();
}

void CalibrationWizard::setInstruction(const QString& instruction) {
    instruction_ = instruction;
    emit changed();
}

void CalibrationWizard::setWindowEnabled(bool on) {
    if (windowEnabled_ == on)
        return;
    windowEnabled_ = on;
    emit changed();
}

void CalibrationWizard::stopStream() {
    PacketMatcher& stream = link_.streamMatcher();
    stream.setEnabled(false);
    stream.disarm();
}

void CalibrationWizard::startStream() {
    PacketMatcher& stream = link_.streamMatcher();
    stream.arm();
    stream.setEnabled(true);
    stream.setAutoEnable(true);
}

void CalibrationWizard::calibrateClicked() {
    if (state_ != State::Closed)
        return;
    state_ = State::Open;
    windowEnabled_ = true;
    units_ = hooks_.unitsText ? hooks_.unitsText() : QString();
    instruction_ = text(kChoose);
    emit changed();
}

void CalibrationWizard::exitClicked() {
    if (state_ != State::Open)
        return;
    stopCalibration(text(kStoppedByUser));
}

void CalibrationWizard::continueClicked() {
    if (state_ != State::Open)
        return;
    state_ = State::Running;
    portLost_.clear();
    // The buttons rest from here on: an EXIT or a second CONTINUE during the search would run into
    // the procedure.
    setWindowEnabled(false);
    discovery_.findDevice();
    if (!discovery_.found()) {
        stopCalibration(text(kDeviceNotFound));
        return;
    }
    calibrate();
}

void CalibrationWizard::stopCalibration(const QString& message) {
    // A run that lost its port failed for that reason, whichever step noticed it first.
    const QString shown =
        portLost_.isEmpty() || message == text(kDone) ? message : portLost_ + " - " + text(kNotCalibrated);
    portLost_.clear();
    startStream();
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(true);
    setInstruction(shown);
    op_.showInfoMessage(shown);
    op_.showMessage(shown, QString(), MessageIcon::Information);
    windowEnabled_ = true;
    state_ = State::Closed;
    emit changed();
}

bool CalibrationWizard::acknowledged(const QByteArray& line, int timeLimitMs) {
    return link_.sendAndReceive(link_.port().portNumber(), line, timeLimitMs, Framing::startingWith("O")) ==
           "K";
}

bool CalibrationWizard::handshake() {
    // The device hands out a code for each protected command; it is read every time, never kept.
    const QByteArray code =
        link_.sendAndReceive(link_.port().portNumber(), "CE\r", kCommandLimitMs, Framing::startingWith("E+"));
    return code != kTimeOutErr && acknowledged("CE" + code + '\r', kCommandLimitMs);
}

bool CalibrationWizard::waitForNoMotion() {
    // An adapter pulled out ends the wait at once: no query could be answered.
    if (!link_.pauseUnlessPortLost(1000, true))
        return false;
    for (int query = 1; query <= kStatusQueries; ++query) {
        if (!link_.pauseUnlessPortLost(1000, true))
            return false;
        // The last query is asked but does not count: the device must be still well before the end.
        if (discovery_.statusBit(0) && query <= kCountingQueries)
            return true;
    }
    return false;
}

QString CalibrationWizard::reading(const QByteArray& line, const QByteArray& start) {
    const QByteArray reply =
        link_.sendAndReceive(link_.port().portNumber(), line, kReadingLimitMs, Framing::startingWith(start));
    return parseInteger(reply) ? QString::fromLatin1(reply) : QString();
}

QString CalibrationWizard::gainReading() {
    // The gain comes back as "G+10000", which is also how a gross weight without decimals streams: while
    // the device streams gross values, whichever line came first would be taken for it. Such a stream
    // shows in the port within a few of its update periods, and the gain is then left unread; a net
    // stream ("N+…") cannot be mistaken for it.
    if (link_.linkKind() == Link::Com) {
        link_.port().clearInput();
        if (!link_.pauseUnlessPortLost(kQuietCheckMs, true))
            return {};
        const QByteArray heard = link_.port().readAll();
        if (heard.startsWith('G') || heard.contains("\rG"))
            return QString::fromLatin1(CalibrationRecord::kNotReadWhileStreaming);
    }
    return reading("AG\r", "G");
}

void CalibrationWizard::calibrate() {
    const auto fail = [this] { stopCalibration(text(kNotCalibrated)); };
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(false);
    stopStream();
    op_.showInfoMessage(QString());

    const int identity = discovery_.deviceIdentity();
    if (std::find(kPlainFilterModels.begin(), kPlainFilterModels.end(), identity) !=
        kPlainFilterModels.end()) {
        for (const char* line : {"FM0\r", "UR0\r"}) {
            if (!acknowledged(line, kCommandLimitMs)) {
                op_.showInfoMessage(text(kNotConnected));
                return fail();
            }
        }
    }
    if (const QString problem = loadProblem(load_); !problem.isEmpty()) {
        op_.showMessage(problem);
        return fail();
    }

    record_ = CalibrationRecord{};
    record_.zeroBefore = reading("AZ\r", "Z");
    record_.gainBefore = gainReading();

    if (!handshake())
        return fail();
    setInstruction(text(kRemoveLoad));
    op_.showMessage(text(kRemoveLoad));
    setInstruction(text(kAwaitZero));
    if (!waitForNoMotion())
        return stopCalibration(text(kZeroUnstable));
    const bool zeroed = acknowledged("CZ\r", kCalibrateLimitMs);
    if (link_.linkKind() == Link::Can) {
        // Over the bridge the zero's answer tells nothing reliable: the device is given its time instead,
        // and nothing else reaches it meanwhile.
        link_.runExclusive([] { waitMs(kCanZeroPauseMs, false); });
    } else if (!zeroed) {
        if (!portLost_.isEmpty())
            return fail();
        setInstruction(text(kZeroRefusedLine));
        op_.showInfoMessage(text(kZeroRefusedBox));
        op_.showMessage(text(kZeroRefusedBox));
        return fail();
    }

    if (!handshake())
        return fail();
    setInstruction(text(kPlaceLoad));
    op_.showMessage(text(kPlaceLoad));
    setInstruction(text(kAwaitGain));
    if (!waitForNoMotion())
        return stopCalibration(text(kGainUnstable));
    if (!acknowledged("CG" + load_.toLatin1() + '\r', kCalibrateLimitMs)) {
        if (!portLost_.isEmpty())
            return fail();
        setInstruction(text(kGainRefused));
        op_.showInfoMessage(text(kGainRefused));
        op_.showMessage(text(kGainRefused));
        return fail();
    }

    if (!handshake() || !acknowledged(kDecimalPoints[std::size_t(decimalPoint_)].command, kCommandLimitMs))
        return fail();
    if (!handshake() || !acknowledged("CS\r", kCommandLimitMs))
        return fail();

    record_.time = QDateTime::currentDateTime();
    record_.identity = identity;
    record_.firmware = discovery_.firmwareVersion();
    record_.connection = discovery_.portLabel();
    record_.load = load_;
    record_.units = units_;
    record_.decimalPoint = text(kDecimalPoints[std::size_t(decimalPoint_)].caption);
    record_.zeroAfter = reading("AZ\r", "Z");
    record_.gainAfter = gainReading();

    setInstruction(text(kDone));
    stopCalibration(text(kDone));
    offerRecord();
    resetAndFind();
}

void CalibrationWizard::offerRecord() {
    if (!op_.askYesNo(text(kSaveRecordQuestion)))
        return;
    const QString path = op_.askSaveFileName(text(kRecordSuffix), text(kRecordFilter));
    if (path.isEmpty())
        return;
    QString error;
    if (!record_.write(path, &error))
        op_.showMessage(text(kRecordNotSaved) + error, QString(), MessageIcon::Error);
}

void CalibrationWizard::resetAndFind() {
    op_.showInfoMessage(text(kResetting));
    if (!acknowledged("SR\r", kCommandLimitMs)) {
        op_.showInfoMessage(text(kResetFailed));
        return;
    }
    // The device restarts; nothing may reach it until it listens again.
    bool portKept = true;
    link_.runExclusive([&] { portKept = link_.pauseUnlessPortLost(kResetPauseMs, false); });
    if (portKept)
        discovery_.findDevice();
}

} // namespace tarvo
