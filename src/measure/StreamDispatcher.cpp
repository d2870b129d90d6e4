#include "StreamDispatcher.h"

#include "Acquisition.h"
#include "GraphModel.h"
#include "LiveReadout.h"
#include "RecordingMemory.h"
#include "StatusPacket.h"
#include "base/NumberText.h"
#include "base/Operator.h"
#include "link/CommandLink.h"

#include <algorithm>
#include <array>

namespace tarvo {

namespace {
constexpr const char* kCheckRunNames[8] = {"Idle",      "AutoTare", "Triged", "Retriged Measuring",
                                           "Measuring", "",         "",       ""};
constexpr const char* kDosingRunNames[8] = {"Idle",       "Zeroing",  "Tareing",       "PreFill",
                                            "CoraseFill", "FineFill", "InFlightDelay", "ReadFillingWeight"};

enum class Group { None, CheckWeigher, Dosing, LossWeigher };

Group groupOf(int identity) {
    struct Entry {
        int identity;
        Group group;
    };
    static constexpr Entry kGroups[] = {
        {4113, Group::CheckWeigher}, {5113, Group::CheckWeigher}, {4313, Group::CheckWeigher},
        {3010, Group::CheckWeigher}, {6110, Group::CheckWeigher}, {4114, Group::Dosing},
        {5114, Group::Dosing},       {4314, Group::Dosing},       {5115, Group::LossWeigher},
    };
    for (const Entry& e : kGroups)
        if (e.identity == identity)
            return e.group;
    return Group::None;
}

bool is(QByteArrayView a, const char* b) {
    return a == QByteArrayView(b);
}

// Marker texts live as shared static strings, so a state change allocates no text.
const QString& markerText(const char* name) {
    static std::array<std::pair<const char*, QString>, 16> cache;
    for (auto& [key, text] : cache) {
        if (key == name)
            return text;
        if (!key) {
            key = name;
            text = QString::fromLatin1(name);
            return text;
        }
    }
    static QString fallback;
    fallback = QString::fromLatin1(name);
    return fallback;
}
} // namespace

StreamDispatcher::StreamDispatcher(CommandLink& comm, Operator& op, LiveReadout& readout,
                                   RecordingMemory& memory, GraphModel& graph, Acquisition& acquisition,
                                   std::function<int()> deviceIdentity, QObject* parent)
    : QObject(parent), link_(comm), op_(op), readout_(readout), memory_(memory), graph_(graph),
      acq_(acquisition), deviceIdentity_(std::move(deviceIdentity)) {
    canText_.reserve(256);
}

const char* StreamDispatcher::checkWeigherStateName(int state) {
    return kCheckRunNames[state & 7];
}
const char* StreamDispatcher::dosingStateName(int state) {
    return kDosingRunNames[state & 7];
}
int StreamDispatcher::previousState() const {
    return acq_.previousState();
}

StreamDispatcher::ValueScan StreamDispatcher::scanValue(QByteArrayView text) {
    // One pass gives both readings of a value line: the readout's (the whole text a decimal number) and
    // the recording's (counts: the first "." deleted, then read as a number, so "+123.4" is 1234).
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-'))
        ++p;
    // The usual line: up to 19 digits with at most one "." among them, which add up exactly in an
    // integer, without a chain of floating-point multiplies.
    const char* const first = p;
    quint64 whole = 0;
    bool dot = false;
    for (; p < end; ++p) {
        const unsigned digit = unsigned(static_cast<unsigned char>(*p)) - '0';
        if (digit < 10)
            whole = whole * 10 + digit;
        else if (*p == '.' && !dot)
            dot = true;
        else
            return scanLongValue(first, end, negative);
    }
    const qsizetype digits = (end - first) - (dot ? 1 : 0);
    if (digits == 0 || digits > 19)
        return scanLongValue(first, end, negative);
    return {true, negative ? -double(whole) : double(whole)};
}

StreamDispatcher::ValueScan StreamDispatcher::scanLongValue(const char* p, const char* end, bool negative) {
    // Digit by digit: digits after a second "." (which the recording does not delete) are fractions, and
    // a number longer than the integer holds goes on in floating point.
    quint64 whole = 0;
    int wholeDigits = 0;
    double longWhole = -1; // once past what the integer holds
    double fraction = 0;
    double scale = 1;
    int dots = 0;
    bool digits = false;
    for (; p < end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            digits = true;
            if (dots >= 2) {
                scale /= 10;
                fraction += (c - '0') * scale;
            } else if (wholeDigits < 19) {
                whole = whole * 10 + quint64(c - '0');
                ++wholeDigits;
            } else {
                longWhole = (longWhole < 0 ? double(whole) : longWhole) * 10 + (c - '0');
            }
        } else if (c == '.' && dots < 2) {
            ++dots;
        } else {
            return {};
        }
    }
    if (!digits)
        return {};
    const double value = (longWhole < 0 ? double(whole) : longWhole) + fraction;
    return {dots <= 1, negative ? -value : value};
}

void StreamDispatcher::dispatch(QByteArrayView text) {
    const QByteArray& start = link_.streamMatcher().startString();
    const char kind = start.size() == 1 ? start.front() : 0;
    firstLetter_ = text.isEmpty() ? 0 : text.front();
    // The CAN bridge's lines carry their letters; a status packet's bytes are never edited.
    if (link_.linkKind() == Link::Can && kind != 'P')
        text = withoutCanLetters(text);
    // By the stream's kind; the value stream is the one that runs at the line's full rate.
    if (kind == 'G' || kind == 'N')
        valueLine(text, kind);
    else if (kind == 'P')
        statusLine(text);
    else
        replyLine(start, text);
}

QByteArrayView StreamDispatcher::withoutCanLetters(QByteArrayView text) {
    // Reuses the reserved capacity: no allocation per line.
    canText_.resize(0);
    canText_.append(text);
    for (const char* needle : {"N", "G", "A", ",", "\r"}) {
        const qsizetype at = canText_.indexOf(needle);
        if (at >= 0)
            canText_.remove(at, 1);
    }
    return canText_;
}

// Long-term sampling: one packet in every N + 1 is recorded. One-shot replies and settings-image lines
// are never thinned or paused away. Over and under range, and PAUSE, record nothing.
bool StreamDispatcher::streamLineTaken(bool over, bool under) {
    if (!acq_.options().takesPacket())
        return false;
    if (acq_.pauseDown() || over || under) {
        if (over)
            readout_.showWord(LiveReadout::kOverRange);
        else if (under)
            readout_.showWord(LiveReadout::kUnderRange);
        acq_.packetNotRecorded();
        return false;
    }
    return true;
}

void StreamDispatcher::valueLine(QByteArrayView text, char kind) {
    const ValueScan scan = scanValue(text);
    // Gross lines never show under the net prefix, nor net lines under the gross one.
    if (scan.decimal && kind == (readout_.grossSelected() ? 'G' : 'N'))
        readout_.showValue(text);
    const bool rangeWord = !scan.counts && text.size() == 7;
    if (!streamLineTaken(rangeWord && is(text, kOverRangeText), rangeWord && is(text, kUnderRangeText)))
        return;
    if (rawValueSink_ && scan.counts)
        rawValueSink_(text);
    if (acq_.runRecording())
        asciiRun(scan.counts);
    else if (acq_.triggerDown())
        asciiTrigger(scan.counts);
    acq_.packetHandled();
}

void StreamDispatcher::statusLine(QByteArrayView text) {
    const std::optional<StatusPacket> packet = StatusPacket::decode(text);
    if (packet)
        readout_.updateFromStatus(*packet);
    if (!streamLineTaken(false, false))
        return;
    if (packet && (acq_.runRecording() || (!acq_.runDown() && acq_.triggerDown()))) {
        const int identity = deviceIdentity_ ? deviceIdentity_() : 0;
        switch (groupOf(identity)) {
        case Group::CheckWeigher:
            if (acq_.runDown())
                checkWeigherRun(*packet);
            else
                acq_.triggerPacket(*packet, false);
            break;
        case Group::Dosing:
            if (acq_.runDown())
                dosingRun(*packet, false);
            else
                acq_.triggerPacket(*packet, true);
            break;
        case Group::LossWeigher:
            dosingRun(*packet, true);
            break;
        case Group::None:
            break;
        }
    }
    acq_.packetHandled();
}

void StreamDispatcher::replyLine(const QByteArray& start, QByteArrayView text) {
    // One-shot average and dosed-value replies, and settings-image lines.
    if ((is(start, "A+") && link_.linkKind() != Link::Can) ||
        (firstLetter_ == 'A' && link_.linkKind() == Link::Can) || is(start, "D+"))
        emit valueDisplayPacket(start, text);
    else if (is(start, ":"))
        emit settingsImageLine(text);
    acq_.packetHandled();
}

void StreamDispatcher::asciiRun(std::optional<double> value) {
    if (!value) {
        op_.showInfoLine(Page::Display, QString::fromLatin1(Acquisition::kCorrupted));
        return;
    }
    acq_.recordRunValue(*value);
}

void StreamDispatcher::asciiTrigger(std::optional<double> value) {
    if (!value)
        return;
    acq_.triggerValue(*value);
    readout_.showBigDisplayIfHidden();
}

void StreamDispatcher::checkWeigherRun(const StatusPacket& p) {
    SampleRecord* record = acq_.nextRunRecord(p);
    if (!record)
        return;
    SampleRecord& r = *record;
    if (p.state < 5)
        r.checkState[p.state] = true;
    r.net = static_cast<float>(p.net);
    const int previous = acq_.previousState();
    if (acq_.options().useStatusInformation() && p.state != previous) {
        // At the run clock before this sample's step is added.
        graph_.addMarker(markerText(checkWeigherStateName(p.state)), acq_.runClock());
        if (p.state == 0 && (previous == 3 || previous == 4))
            acq_.averageReadTimer().start();
    }
    acq_.recordRunValue(p.gross);
    acq_.setPreviousState(p.state);
}

void StreamDispatcher::dosingRun(const StatusPacket& p, bool loss) {
    SampleRecord* record = acq_.nextRunRecord(p);
    if (!record)
        return;
    SampleRecord& r = *record;
    r.noMotion = p.noMotion;
    r.overRange = p.overRange;
    r.underRange = p.underRange;
    r.dosingState[p.state] = true;
    double net = p.net;
    // Without a loss decimal count read at RUN the packet's own count stays in force.
    if (loss && acq_.lossDecimals() >= 0)
        net = p.netCounts / StatusPacket::divisor(acq_.lossDecimals());
    r.net = static_cast<float>(net);
    if (!loss && p.state != acq_.previousState()) {
        graph_.addMarker(markerText(dosingStateName(p.state)), acq_.runClock());
        if (p.state == 0)
            acq_.dosedReadTimer().start();
    }
    const bool gross = loss || readout_.grossSelected();
    acq_.recordRunValue(gross ? p.gross : net);
    acq_.setPreviousState(p.state);
}

} // namespace tarvo
