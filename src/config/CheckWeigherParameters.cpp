#include "CheckWeigherParameters.h"

#include <algorithm>

#include "base/EventWait.h"
#include "base/Operator.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"

#include <array>

namespace tarvo {

namespace {
constexpr int kSettleMs = 200;
constexpr int kWriteLimitMs = 200;
constexpr int kTcwReadLimitMs = 100;
constexpr int kRefreshLimitMs = 100;
constexpr int kRefreshPauseMs = 2000;

const QString kMs = QStringLiteral("Range: 0...500ms");
const QString kLongMs = QStringLiteral("Range: 0...65535ms");
const QString kSigned = QStringLiteral("Range: +-99999 counts");
const QString kAction = QStringLiteral("Range: 0 or 1");

// Read order of the 41xx page.
std::vector<ParameterField> mxr41Fields() {
    return {
        {"StartDelay", "StartDelay (ms)", "SD", "S", 500, kMs},
        {"MeasureTime", "MeasureTime (ms)", "MT", "M", 500, kMs},
        {"ReTrigTime", "ReTrigTime (ms)", "TT", "T", 200, kLongMs},
        {"TriggerLevel", "TriggerLevel (counts)", "TL", "T", 200, "Range: 0...99999 counts"},
        {"RetrigWindow", "RetrigWindow (counts)", "RW", "R", 200, "Range: 0...65535 counts"},
        {"TareWindow", "TareWindow (counts)", "TW", "W", 200, "Range: 0...65535 counts"},
        {"TareTime", "TareTime (ms)", "TI", "T", 200, {}},
        {"RetrigStop", "RetrigStop", "TS", "T", 200, {}},
        {"DeltaTime", "DeltaTime (ms)", "DT", "T", 200, {}},
        {"TxDelay", "TxDelay (ms)", "TD", "T", 200, {}},
        {"Setpoint0", "Setpoint0 (counts)", "S0", "S0:", 200, kSigned},
        {"Action0", "Action0", "A0", "A0:", 200, kAction},
        {"Hysteresis0", "Hysteresis0 (counts)", "H0", "H0:", 200, kSigned},
        {"Setpoint1", "Setpoint1 (counts)", "S1", "S1:", 200, kSigned},
        {"Hysteresis1", "Hysteresis1 (counts)", "H1", "H1:", 200, kSigned},
        {"Action1", "Action1", "A1", "A1:", 200, kAction},
        {"HoldTime", "HoldTime (ms)", "HT", "H+", 200, kLongMs},
    };
}
// The write sends hysteresis 0 before action 0.
constexpr std::array<int, 17> kMxr41WriteOrder{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 11, 13, 14, 15, 16};
constexpr int kTxDelay = 9;

std::vector<ParameterField> tcw43Fields() {
    std::vector<ParameterField> fields{
        {"StartDelay", "StartDelay (ms)", "SD", "S+", kTcwReadLimitMs, kMs},
        {"MeasureTime", "MeasureTime (ms)", "MT", "M+", kTcwReadLimitMs, kMs},
        {"TriggerLevel", "TriggerLevel (counts)", "TL", "T+", kTcwReadLimitMs, "Range: 0...99999 counts"},
    };
    for (int n = 1; n <= 3; ++n) {
        const QString i = QString::number(n);
        const QByteArray b = QByteArray::number(n);
        fields.push_back({"Setpoint" + i, "Setpoint" + i, "S" + b, "S" + b + ":", kTcwReadLimitMs, kSigned});
        fields.push_back(
            {"Hysteresis" + i, "Hysteresis" + i, "H" + b, "H" + b + ":", kTcwReadLimitMs, kSigned});
        // The action's start string takes its sign, so the field shows the bare value.
        fields.push_back({"Action" + i, "Action" + i, "A" + b, "A" + b + ":+", kTcwReadLimitMs, kAction});
    }
    return fields;
}

bool sendsTxDelay(int identity) {
    return identity == 4110 || identity == 4112 || identity == 4113;
}
} // namespace

CheckWeigherParameters::CheckWeigherParameters(CommandLink& link, Operator& op, ConfigHooks hooks,
                                               QObject* parent)
    : QObject(parent), link_(link), op_(op), hooks_(std::move(hooks)), mxr41_(mxr41Fields()),
      tcw43_(tcw43Fields()) {}

QString CheckWeigherParameters::invalidValueText(const QString& name) {
    return "Invalid value for " + name + "... values not saved!";
}

void CheckWeigherParameters::edgeClicked(Edge edge) {
    if (edge_ == edge)
        return;
    edge_ = edge;
    emit changed();
}

void CheckWeigherParameters::refuse(Page page, const QString& text) {
    op_.showInfoLine(page, text);
    op_.showMessage(text);
    hooks_.pageControl(true);
}

void CheckWeigherParameters::readMxr41Clicked() {
    if (mxr41_.busy())
        return;
    op_.showInfoLine(Page::Mxr41, QString());
    mxr41_.clear();
    mxr41_.setProgress(0, mxr41_.count() + 1);
    waitMs(kSettleMs);
    op_.showInfoLine(Page::Mxr41, QString::fromLatin1(kReading));
    const int port = link_.port().portNumber();
    const bool withTxDelay = sendsTxDelay(hooks_.identity());
    readComplete_ = true;
    for (int i = 0; i < mxr41_.count(); ++i) {
        const ParameterField& f = mxr41_.field(i);
        const QByteArray reply =
            link_.sendAndReceive(port, f.command + '\r', f.readLimitMs, Framing::startingWith(f.replyStart));
        mxr41_.setText(i, QString::fromLatin1(reply));
        mxr41_.setProgress(i + 1, mxr41_.count() + 1);
        if ((reply.isEmpty() || reply == kTimeOutErr) && (i != kTxDelay || withTxDelay))
            readComplete_ = false;
    }
    const QByteArray edge = link_.sendAndReceive(port, "TE\r", 200, Framing::startingWith("E:"));
    if (edge.isEmpty() || !std::all_of(edge.begin(), edge.end(), [](char c) { return c >= '0' && c <= '9'; }))
        readComplete_ = false;
    edgeClicked(edge == "001" ? Edge::Leading : Edge::Trailing);
    op_.showInfoLine(Page::Mxr41, QString());
    mxr41_.setProgress(0, 0);
}

bool CheckWeigherParameters::writeField(const ParameterFields& fields, int index, bool live) {
    const ParameterField& f = fields.field(index);
    const QByteArray line = f.command + ' ' + fields.text(index).toLatin1() + '\r';
    const int port = link_.port().portNumber();
    if (live)
        return link_.sendAndReceiveLive(port, line, kWriteLimitMs) == "OK";
    return link_.sendAndReceive(port, line, kWriteLimitMs, Framing::startingWith("O")) == "K";
}

void CheckWeigherParameters::writeMxr41Clicked() {
    if (mxr41_.busy())
        return;
    const int total = int(kMxr41WriteOrder.size()) + 3;
    mxr41_.setProgress(0, total);
    hooks_.pageControl(false);
    op_.showInfoLine(Page::Mxr41, QString());
    waitMs(kSettleMs);
    saved_ = false;
    setpointsSaved_ = false;
    int done = 0;
    const auto finish = [this] { mxr41_.setProgress(0, 0); };
    const bool withTxDelay = sendsTxDelay(hooks_.identity());
    for (const int i : kMxr41WriteOrder) {
        if (i == kTxDelay && !withTxDelay)
            continue;
        if (!writeField(mxr41_, i, false)) {
            refuse(Page::Mxr41, invalidValueText(mxr41_.field(i).name));
            return finish();
        }
        mxr41_.setProgress(++done, total);
    }
    if (edge_ != Edge::None) {
        const QByteArray line = edge_ == Edge::Leading ? "TE1\r" : "TE0\r";
        if (link_.sendAndReceive(link_.port().portNumber(), line, kWriteLimitMs,
                                 Framing::startingWith("O")) != "K") {
            refuse(Page::Mxr41, invalidValueText(QStringLiteral("TriggerEdge")));
            return finish();
        }
    }
    const int port = link_.port().portNumber();
    if (link_.sendAndReceive(port, "WP\r", kWriteLimitMs, Framing::startingWith("O")) != "K") {
        refuse(Page::Mxr41, QString::fromLatin1(kNotStored));
        return finish();
    }
    op_.showInfoLine(Page::Mxr41, QString::fromLatin1(kSaved));
    saved_ = true;
    hooks_.pageControl(true);
    if (link_.sendAndReceive(port, "SS\r", kWriteLimitMs, Framing::startingWith("O")) != "K") {
        op_.showInfoLine(Page::Mxr41, QString::fromLatin1(kSetpointsNotStored));
        op_.showMessage(QString::fromLatin1(kSetpointsNotStored));
    } else {
        setpointsSaved_ = true;
        op_.showInfoLine(Page::Mxr41, QString::fromLatin1(kSaved));
    }
    finish();
}

void CheckWeigherParameters::readTcw43Clicked() {
    if (tcw43_.busy())
        return;
    tcw43_.setProgress(0, tcw43_.count() + 1);
    op_.showInfoLine(Page::Tcw43, QString());
    waitMs(kSettleMs);
    const int port = link_.port().portNumber();
    link_.sendAndReceive(port, "GN\r", 200, Framing::startingWith("N"));
    for (int i = 0; i < tcw43_.count(); ++i) {
        const ParameterField& f = tcw43_.field(i);
        const QByteArray reply =
            link_.sendAndReceive(port, f.command + '\r', f.readLimitMs, Framing::startingWith(f.replyStart));
        tcw43_.setText(i, QString::fromLatin1(reply));
        tcw43_.setProgress(i + 2, tcw43_.count() + 1);
    }
    tcw43_.setProgress(0, 0);
}

void CheckWeigherParameters::writeTcw43Clicked() {
    if (tcw43_.busy())
        return;
    const int total = tcw43_.count() + 1;
    tcw43_.setProgress(0, total);
    hooks_.pageControl(false);
    op_.showInfoLine(Page::Tcw43, QString());
    waitMs(kSettleMs);
    saved_ = false;
    for (int i = 0; i < tcw43_.count(); ++i) {
        if (!writeField(tcw43_, i, true)) {
            refuse(Page::Tcw43, invalidValueText(tcw43_.field(i).name));
            tcw43_.setProgress(0, 0);
            return;
        }
        tcw43_.setProgress(i + 1, total);
    }
    if (link_.sendAndReceiveLive(link_.port().portNumber(), "WP\r", kWriteLimitMs) != "OK") {
        refuse(Page::Tcw43, QString::fromLatin1(kNotStored));
        tcw43_.setProgress(0, 0);
        return;
    }
    op_.showInfoLine(Page::Tcw43, QString::fromLatin1(kTcwSaved));
    saved_ = true;
    hooks_.pageControl(true);
    tcw43_.setProgress(0, 0);
}

void CheckWeigherParameters::refreshClicked() {
    hooks_.pageControl(false);
    PacketMatcher& stream = link_.streamMatcher();
    stream.setEnabled(false);
    stream.disarm();
    const QByteArray reply =
        link_.sendAndReceive(link_.port().portNumber(), "LI\r", kRefreshLimitMs, Framing::anyData());
    configuration_ = QString::fromLatin1(reply == kTimeOutErr ? QByteArray("N/A") : reply);
    emit changed();
    waitMs(kRefreshPauseMs);
    stream.arm();
    stream.setEnabled(true);
    stream.setAutoEnable(true);
    hooks_.pageControl(true);
}

void CheckWeigherParameters::mxr41PageHidden() {
    mxr41_.setEnabled(true);
}

void CheckWeigherParameters::tcw43PageHidden() {
    tcw43_.setEnabled(true);
}

} // namespace tarvo
