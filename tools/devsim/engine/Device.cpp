#include "Device.h"

#include "FilterModel.h"
#include "ValueText.h"

#include <base/TimeScale.h>

#include <array>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

namespace devsim {

namespace {

// Parameters the device stores and reads back as reply prefix + sign + five digits.
struct ParameterDef {
    std::string_view mnemonic;
    std::string_view prefix;
    int defaultValue;
};
constexpr std::array<ParameterDef, 39> parameterTable{{
    {"CG", "G", 10000}, {"CM", "M", 99999}, {"DS", "S", 1},   {"DP", "P", 1},   {"AZ", "Z", 0},
    {"AG", "G", 10000}, {"ZT", "Z", 0},     {"NR", "R", 2},   {"NT", "T", 500}, {"FL", "F", 3},
    {"FM", "M", 0},     {"UR", "U", 5},     {"BR", "B ", 0},  {"AD", "A ", 0},  {"DR", "R ", 0},
    {"RR", "R:", 0},    {"IN", "IN", 0},    {"IO", "IO", 0},  {"IM", "IM", 0},  {"SD", "S", 20},
    {"MT", "M", 100},   {"TL", "T", 150},   {"TE", "E:", 0},  {"RW", "R", 50},  {"TT", "T", 200},
    {"HT", "H", 500},   {"TW", "W", 20},    {"TI", "T", 100}, {"DT", "T", 10},  {"TS", "T", 0},
    {"TD", "T", 0},     {"DI", "I:", 0},    {"LC", "C:", 0},  {"LI", "I:", 0},  {"GF", "F", 0},
    {"GR", "T", 0},     {"GM", "L", 0},     {"GS", "S", 0},   {"MD", "M", 0},
}};

// Commands that only do something and confirm it.
constexpr std::array<std::string_view, 13> actionTable{"SZ", "RZ", "ST", "RT", "WP", "SS", "SL",
                                                       "TR", "TA", "SC", "AC", "G",  "TG"};

constexpr int dosingParameters = 16;
constexpr int lossParameters = 5;
constexpr int setpoints = 4;
constexpr qint64 defaultCycleTarget = 2500;
constexpr int lineLimit = 128;

const ParameterDef* findParameter(const QByteArray& mnemonic) {
    const std::string_view m(mnemonic.constData(), size_t(mnemonic.size()));
    for (const auto& def : parameterTable)
        if (def.mnemonic == m)
            return &def;
    return nullptr;
}

bool isAction(const QByteArray& mnemonic) {
    const std::string_view m(mnemonic.constData(), size_t(mnemonic.size()));
    return std::find(actionTable.begin(), actionTable.end(), m) != actionTable.end();
}

QByteArray ok() {
    return QByteArrayLiteral("OK");
}
QByteArray err() {
    return QByteArrayLiteral("ERR");
}

bool isDosingIdentity(int identity) {
    return WeighCycle::kindFor(identity) == WeighCycle::Kind::Dosing;
}

// The track-bar models' filter is one index: they know neither a mode nor an update rate.
bool hasModeAndRate(int identity) {
    return !FilterModel::usesFilterIndex(identity);
}

// What "CS" stores, and "WP" does not.
bool isCalibrationKey(const QByteArray& key) {
    return key == "AZ" || key == "AG" || key == "CG" || key == "DP";
}

bool isSetpointKey(const QByteArray& key) {
    return key.size() == 2 && (key[0] == 'S' || key[0] == 'H' || key[0] == 'A') && key[1] >= '0' &&
           key[1] <= '9';
}

// The 43xx transmitters answer "LI" with a line that lists their configuration.
bool listsConfiguration(int identity) {
    return identity / 100 == 43 || identity == 6110;
}

} // namespace

Device::Device(const DeviceConfig& config, QObject* parent)
    : QObject(parent), config_(config), activeBaud_(config.baud),
      storedBaud_(config.storedBaud > 0 ? config.storedBaud : config.baud), selected_(!config.address),
      calibration_(quint32(config.identity * 7919 + config.address.value_or(0) * 131 + 4242)),
      cycle_(WeighCycle::kindFor(config.identity), 0, 0), profile_(config.profile, config.decimals),
      profileStartMs_(tarvo::monotonicMs()) {
    gross_ = toCounts(config.weight);
    tare_ = toCounts(config.tare);
    updateCycleTarget();
    loadDefaults();
    streamTimer_.setTimerType(Qt::PreciseTimer);
    connect(&streamTimer_, &QTimer::timeout, this, &Device::streamTick);
    resetTimer_.setSingleShot(true);
    connect(&resetTimer_, &QTimer::timeout, this, &Device::powerOn);
    startAutotransmit();
}

qint64 Device::toCounts(double value) const {
    return std::llround(value * std::pow(10.0, config_.decimals));
}

void Device::updateCycleTarget() {
    cycle_.setTarget(gross_ != 0 ? gross_ : defaultCycleTarget, tare_);
}

void Device::loadDefaults() {
    params_.clear();
    for (const auto& def : parameterTable)
        params_.insert(QByteArray(def.mnemonic.data(), qsizetype(def.mnemonic.size())), def.defaultValue);
    params_.insert("DP", config_.decimals);
    // The loss weigher reports its own decimal count as its first parameter.
    params_.insert("PL1", config_.decimals);
    stored_ = params_;
}

void Device::setParameter(const QByteArray& key, qint64 value) {
    params_.insert(key, value);
    stored_.insert(key, value);
}

std::optional<std::pair<qint64, qint64>> Device::parameterRange(const QByteArray& key) const {
    using Range = std::pair<qint64, qint64>;
    const int identity = config_.identity;
    if (key == "FL")
        return Range{0, FilterModel::highestIndex(identity)};
    if (key == "FM")
        return hasModeAndRate(identity) && identity != 6110 ? std::optional(Range{0, 1}) : std::nullopt;
    if (key == "UR")
        return hasModeAndRate(identity) ? std::optional(Range{0, 7}) : std::nullopt;
    if (key == "SD" || key == "MT")
        return Range{0, 500};
    if (key == "TL")
        return Range{0, 99999};
    if (key == "RW" || key == "TW" || key == "TT" || key == "HT" || key == "TI" || key == "TS" ||
        key == "DT" || key == "TD")
        return Range{0, 65535};
    if (key == "TE")
        return Range{0, 1};
    if (isSetpointKey(key))
        return key[0] == 'A' ? Range{0, 1} : Range{-99999, 99999};
    if (key.startsWith("PD") || key.startsWith("PL")) {
        const int n = key.mid(2).toInt();
        if (n == 1)
            return Range{0, 3};
        if (n == 2)
            return Range{0, 50};
        return n <= 9 ? Range{0, 65535} : Range{0, 99999};
    }
    return Range{std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
}

void Device::store(const QByteArray& command) {
    for (auto it = params_.cbegin(); it != params_.cend(); ++it) {
        const QByteArray& key = it.key();
        const bool setpoint = isSetpointKey(key);
        const bool dosing = key.startsWith("PD");
        const bool loss = key.startsWith("PL");
        const bool calibration = isCalibrationKey(key);
        if ((command == "WP" && !setpoint && !dosing && !loss && !calibration) ||
            (command == "CS" && calibration) || (command == "SS" && setpoint) ||
            (command == "SD" && dosing) || (command == "SL" && loss))
            stored_.insert(key, it.value());
    }
}

void Device::setIdentity(int identity) {
    config_.identity = identity;
    cycle_ = WeighCycle(WeighCycle::kindFor(identity), 0, 0);
    updateCycleTarget();
}

void Device::setWeight(double weight) {
    config_.weight = weight;
    const qint64 counts = toCounts(weight);
    if (counts != gross_)
        weightChangedAt_ = tarvo::monotonicMs();
    gross_ = counts;
    updateCycleTarget();
}

void Device::setTare(double tare) {
    config_.tare = tare;
    tare_ = toCounts(tare);
    updateCycleTarget();
}

void Device::setProfile(const WeightProfile::Settings& settings) {
    config_.profile = settings;
    profile_ = WeightProfile(settings, config_.decimals);
    filteredFor_ = -1;
    profileStartMs_ = tarvo::monotonicMs();
}

const WeightProfile& Device::activeProfile() const {
    if (!config_.filterModel)
        return profile_;
    const qint64 mode = params_.value("FM");
    const qint64 level = params_.value("FL");
    const qint64 rate = params_.value("UR");
    const qint64 key = (mode * 100 + level) * 100 + rate;
    if (key != filteredFor_) {
        const FilterResponse r = FilterModel::response(config_.identity, int(mode), int(level), int(rate),
                                                       config_.profile.amplitude);
        WeightProfile::Settings settings = config_.profile;
        settings.settlingMs = std::max(1, r.settlingMs);
        settings.damping = r.damping;
        settings.amplitude = r.noiseAmplitude;
        filtered_ = WeightProfile(settings, config_.decimals);
        filteredFor_ = key;
    }
    return filtered_;
}

qint64 Device::profileMs() const {
    if (sampleProfileMs_)
        return *sampleProfileMs_;
    return qint64(double(tarvo::monotonicMs() - profileStartMs_) / tarvo::TimeScale::factor());
}

Device::Range Device::rangeOf(qint64 gross) const {
    if (range_ != Range::Normal || !profileActive())
        return range_;
    // Beyond the calibrated maximum the transmitter cannot measure.
    const qint64 capacity = std::clamp<qint64>(params_.value("CM"), 1, 99999);
    return gross > capacity ? Range::Over : gross < -capacity ? Range::Under : Range::Normal;
}

bool Device::settledAfterSetWeight() const {
    return config_.settleMs >= 0 &&
           tarvo::monotonicMs() - weightChangedAt_ >= tarvo::TimeScale::ms(config_.settleMs);
}

bool Device::profileStillAt(qint64 profileMs) const {
    // The no-motion range ("NR") in counts over the same still time a weight change needs.
    const qint64 range = std::max<qint64>(0, params_.value("NR"));
    return settledAfterSetWeight() && !activeProfile().movingAt(profileMs, config_.settleMs, range);
}

void Device::setUpdateMs(int deviceMs) {
    config_.updateMs = std::max(1, deviceMs);
    if (streamTimer_.isActive() && stream_ != Stream::Packets) {
        restartSampleClock();
        streamTimer_.start(tarvo::TimeScale::ms(config_.updateMs));
    }
}

void Device::setPacketUpdateMs(int deviceMs) {
    config_.packetUpdateMs = std::max(1, deviceMs);
    if (streamTimer_.isActive() && stream_ == Stream::Packets)
        streamTimer_.start(tarvo::TimeScale::ms(config_.packetUpdateMs));
}

qint64 Device::shown(qint64 raw) const {
    return Calibration::display(raw, params_.value("AZ"), params_.value("AG"));
}

qint64 Device::grossCounts() const {
    return shown(rawCounts());
}

qint64 Device::rawCounts() const {
    if (profileActive())
        return gross_ + activeProfile().weightAt(profileMs());
    if (stream_ == Stream::Packets && cycle_.kind() != WeighCycle::Kind::Steady)
        return cycle_.gross();
    return gross_;
}

bool Device::noMotion() const {
    if (profileActive())
        return profileStillAt(profileMs());
    if (stream_ == Stream::Packets && cycle_.kind() != WeighCycle::Kind::Steady)
        return config_.settleMs >= 0 && cycle_.noMotion();
    return settledAfterSetWeight();
}

int Device::statusBits() const {
    int bits = noMotion() ? 1 : 0;
    const Range range = rangeOf(grossCounts());
    if (range == Range::Over)
        bits |= 2;
    if (range == Range::Under)
        bits |= 4;
    return bits;
}

qint64 Device::averageCounts() const {
    if (profileActive())
        return shown(gross_ + activeProfile().resultAt(profileMs()));
    return cycle_.kind() == WeighCycle::Kind::Steady ? grossCounts() : shown(cycle_.lastResult());
}

QByteArray Device::weightText(char letter, qint64 counts, Range range) const {
    QByteArray text(1, letter);
    if (range == Range::Over)
        return text + ValueText::overRange();
    if (range == Range::Under)
        return text + ValueText::underRange();
    return text + ValueText::weight(counts, config_.decimals);
}

QByteArray Device::valueLine(char letter) const {
    // The range words follow the gross weight, whichever value the line carries.
    const qint64 gross = grossCounts();
    qint64 value = gross;
    if (letter == 'N')
        value = gross - tare_;
    else if (letter == 'T')
        value = tare_;
    else if (letter == 'A' || letter == 'D')
        value = averageCounts();
    return weightText(letter, value, rangeOf(gross));
}

QByteArray Device::currentPacket() const {
    if (profileActive()) {
        // One instant for every field of the packet.
        const qint64 t = profileMs();
        const qint64 gross = shown(gross_ + activeProfile().weightAt(t));
        const Range range = rangeOf(gross);
        return ValueText::packet({activeProfile().stateAt(t), profileStillAt(t), range == Range::Over,
                                  range == Range::Under, gross, gross - tare_, config_.decimals});
    }
    const bool cycling = cycle_.kind() != WeighCycle::Kind::Steady;
    const qint64 gross = shown(cycling ? cycle_.gross() : gross_);
    const bool still = cycling ? config_.settleMs >= 0 && cycle_.noMotion() : noMotion();
    return ValueText::packet({cycling ? cycle_.state() : 0, still, range_ == Range::Over,
                              range_ == Range::Under, gross, gross - tare_, config_.decimals});
}

void Device::powerOn() {
    resetting_ = false;
    // What was never stored is lost with the power.
    params_ = stored_;
    const qint64 decimals = params_.value("DP", config_.decimals);
    if (decimals >= 0 && decimals <= 5)
        config_.decimals = int(decimals);
    activeBaud_ = storedBaud_;
    calibration_.lock();
    lineBuffer_.clear();
    lineOverflow_ = false;
    stream_ = Stream::None;
    streamTimer_.stop();
    startAutotransmit();
}

QList<QByteArray> Device::takeHeardLines() {
    return std::exchange(heard_, {});
}

void Device::startAutotransmit() {
    const QByteArray& a = config_.autotransmit;
    if (a == "SG" || a == "SN")
        startStream(a == "SG" ? Stream::Gross : Stream::Net);
    else if (a == "SA")
        startStream(Stream::Average);
    else if (a == "GP")
        startStream(Stream::Packets);
}

void Device::startReset() {
    resetting_ = true;
    stream_ = Stream::None;
    streamTimer_.stop();
    lineBuffer_.clear();
    resetTimer_.start(tarvo::TimeScale::ms(config_.resetMs));
}

void Device::setBootMode(bool on) {
    if (on) {
        stream_ = Stream::None;
        streamTimer_.stop();
        resetTimer_.stop();
        resetting_ = false;
        boot_.powerOn();
        bootMode_ = true;
        return;
    }
    if (!bootMode_)
        return;
    bootMode_ = false;
    // Freshly programmed firmware starts at its default rate.
    if (boot_.passes() > 0)
        storedBaud_ = BootMonitor::kBaud;
    powerOn();
}

qsizetype Device::bootReceive(const QByteArray& bytes) {
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        bool leave = false;
        const QByteArray answer = boot_.receive(bytes[i], &leave);
        if (leave) {
            setBootMode(false);
            return i;
        }
        if (!answer.isEmpty())
            emit output(answer, true);
    }
    return bytes.size();
}

qsizetype Device::imageReceive(const QByteArray& bytes) {
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (!image_.receiving())
            return i;
        if (const std::optional<QByteArray> reply = image_.receive(bytes[i], *this)) {
            emit output(*reply + '\r', true);
            return i + 1;
        }
    }
    return bytes.size();
}

void Device::receive(const QByteArray& bytes) {
    if (resetting_)
        return;
    qsizetype taken = bootMode_ ? bootReceive(bytes) : 0;
    if (!bootMode_ && image_.receiving())
        taken += imageReceive(bytes.sliced(taken));
    if (bootMode_ || taken >= bytes.size())
        return;
    for (qsizetype at = taken; at < bytes.size(); ++at) {
        const char c = bytes[at];
        if (c == '\r') {
            const QByteArray line = lineBuffer_;
            const bool overflow = lineOverflow_;
            lineBuffer_.clear();
            lineOverflow_ = false;
            if (heard_.size() >= 10000)
                heard_.removeFirst();
            heard_.append(line);
            if (overflow) {
                if (selected_)
                    emit output(err() + '\r', true);
            } else {
                handleLine(line);
            }
            if (resetting_)
                return;               // the rest of the chunk arrives while the device restarts
            if (image_.receiving()) { // "PI": what follows is the image
                if (at + 1 < bytes.size())
                    receive(bytes.sliced(at + 1));
                return;
            }
        } else if (c == '\n') {
            continue;
        } else if (lineBuffer_.size() < lineLimit) {
            lineBuffer_.append(c);
        } else {
            lineOverflow_ = true;
        }
    }
}

bool Device::parse(const QByteArray& line, Command* command) {
    Command c;
    qsizetype i = 0;
    auto isLetter = [](char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); };
    auto isDigit = [](char ch) { return ch >= '0' && ch <= '9'; };
    while (i < line.size() && isLetter(line[i]))
        ++i;
    if (i == 0)
        return false;
    c.mnemonic = line.left(i);
    // Setpoints carry a one-digit index, dosing and loss parameters a one- or two-digit one.
    if ((c.mnemonic == "S" || c.mnemonic == "H" || c.mnemonic == "A") && i < line.size() &&
        isDigit(line[i])) {
        c.index = line[i] - '0';
        ++i;
    } else if ((c.mnemonic == "PD" || c.mnemonic == "PL") && i < line.size() && isDigit(line[i])) {
        c.index = line[i] - '0';
        ++i;
        if (i < line.size() && isDigit(line[i]) && c.index * 10 + (line[i] - '0') <= dosingParameters) {
            c.index = c.index * 10 + (line[i] - '0');
            ++i;
        }
    }
    if (i < line.size() && line[i] == ' ')
        ++i;
    if (i < line.size()) {
        const QByteArray number = line.mid(i);
        qsizetype j = (number[0] == '+' || number[0] == '-') ? 1 : 0;
        if (j >= number.size())
            return false;
        for (qsizetype k = j; k < number.size(); ++k)
            if (!isDigit(number[k]))
                return false;
        bool ok = false;
        c.value = number.toLongLong(&ok);
        if (!ok)
            return false;
        c.hasValue = true;
    } else if (i > c.mnemonic.size() && line[i - 1] == ' ') {
        return false; // a blank must be followed by a value
    }
    *command = c;
    return true;
}

void Device::handleLine(const QByteArray& line) {
    if (line.isEmpty())
        return;
    Command c;
    const bool parsed = parse(line, &c);
    if (parsed && !refuseAll_ && (c.mnemonic == "OP" || c.mnemonic == "CL") && c.hasValue) {
        // Every device on the line listens for its address; only the one addressed confirms. "OP" opens
        // one device and so closes the others; "CL" closes only the device it names.
        const bool mine = c.value == address();
        if (c.mnemonic == "OP")
            selected_ = mine;
        else if (mine)
            selected_ = false;
        if (mine)
            emit output(ok() + '\r', true);
        return;
    }
    if (!selected_)
        return;
    // "TE?" refuses the read alone: the device answers "TE" with "ERR" and still takes "TE0".
    const bool refused =
        refuseAll_ ||
        (parsed && (refused_.contains(c.mnemonic) || (!c.hasValue && refused_.contains(c.mnemonic + '?'))));
    const QByteArray reply = (parsed && !refused) ? execute(c) : err();
    if (!reply.isEmpty())
        emit output(reply + '\r', true);
    if (parsed && !refused && c.mnemonic == "SR")
        startReset();
}

QByteArray Device::execute(const Command& c) {
    const QByteArray& m = c.mnemonic;
    if (m == "ID")
        return "D:" + QByteArray::number(config_.identity).rightJustified(4, '0');
    if (m == "IV")
        return "V:" + config_.firmware.toLatin1();
    if (m == "IS")
        return "S:" + QByteArray::number(statusBits()).rightJustified(3, '0') + "000";
    if (m == "DX") {
        if (!c.hasValue)
            return config_.fullDuplex ? "X:001" : "X:000";
        if (c.value != 0 && c.value != 1)
            return err();
        config_.fullDuplex = c.value == 1;
        return ok();
    }
    if (m == "br") {
        if (!c.hasValue || !DeviceConfig::isValidBaud(int(c.value)))
            return err();
        storedBaud_ = int(c.value); // takes effect at the next reset
        return ok();
    }
    if (m == "SR")
        return ok();
    if (m == "GA")
        return averageReply();
    if (m == "GG" && stream_ == Stream::Average) {
        // A read ends the average sending.
        stream_ = Stream::None;
        streamTimer_.stop();
    }
    if (m == "GG" || m == "GN" || (m == "GT" && !c.hasValue) || m == "GD")
        return valueLine(m[1]);
    if (m == "SG" || m == "SN") {
        startStream(m == "SG" ? Stream::Gross : Stream::Net);
        return {};
    }
    if (m == "SA") {
        startStream(Stream::Average);
        return ok();
    }
    if (m == "GP") {
        if (!c.hasValue)
            return currentPacket();
        if (c.value != -1)
            return err();
        // Asking for the stream does not start a cycle ("SC" does): a real controller goes on where it is.
        startStream(Stream::Packets);
        return {};
    }
    if (m == "GI" && !c.hasValue && endlessImage_) {
        imageRecordsSent_ = 0;
        startStream(Stream::ImageRecords);
        return {};
    }
    if (m == "GI" && !c.hasValue)
        return DeviceImage::records(*this).chopped(1); // the last "\r" follows as every reply's
    if (m == "PI" && !c.hasValue) {
        image_.beginReceiving(*this);
        return {};
    }
    if (m == "CE") {
        if (!c.hasValue)
            return "E+" + QByteArray::number(calibration_.handOutCode()).rightJustified(5, '0');
        return calibration_.unlock(c.value) ? ok() : err();
    }
    if (m == "CZ" || m == "CS" || (m == "CG" && c.hasValue))
        return calibrate(c);
    if (m == "FD") {
        if (!calibration_.takeUnlock())
            return err();
        loadDefaults();
        tare_ = 0;
        config_.tare = 0;
        updateCycleTarget();
        return ok();
    }
    if (m == "ST" || m == "RT") {
        tare_ = m == "ST" ? (profileActive() ? grossCounts() : shown(gross_)) : 0;
        updateCycleTarget();
        return ok();
    }
    if (m == "SC") {
        cycle_.restart();
        if (profileActive())
            profileStartMs_ = tarvo::monotonicMs();
        return ok();
    }
    // The dosing controllers use a bare "SD" to store their dosing parameters.
    if (m == "SD" && !c.hasValue && isDosingIdentity(config_.identity)) {
        store(m);
        return ok();
    }
    if ((m == "WP" || m == "SS" || m == "SL") && !c.hasValue) {
        store(m);
        return ok();
    }
    if (m == "LI" && !c.hasValue && listsConfiguration(config_.identity))
        return "TCW" + QByteArray::number(config_.identity) + " FM" +
               QByteArray::number(params_.value("FM")) + " FL" + QByteArray::number(params_.value("FL")) +
               " UR" + QByteArray::number(params_.value("UR")) + " TL" +
               QByteArray::number(params_.value("TL"));
    bool known = false;
    const QByteArray reply = parameterCommand(c, &known);
    if (known)
        return reply;
    if (isAction(m))
        return ok();
    return err();
}

QByteArray Device::parameterCommand(const Command& c, bool* known) {
    const QByteArray& m = c.mnemonic;
    *known = true;
    QByteArray key;
    QByteArray prefix;
    if (m == "S" || m == "H" || m == "A") {
        if (c.index < 0 || c.index >= setpoints)
            return err();
        key = m + QByteArray::number(c.index);
        prefix = key + ':';
    } else if (m == "PD" || m == "PL") {
        const int count = m == "PD" ? dosingParameters : lossParameters;
        if (c.index < 1 || c.index > count)
            return err();
        key = m + QByteArray::number(c.index);
        prefix = 'P' + QByteArray::number(c.index) + ':';
    } else if (const ParameterDef* def = findParameter(m)) {
        key = m;
        prefix = QByteArray(def->prefix.data(), qsizetype(def->prefix.size()));
    } else {
        *known = false;
        return {};
    }
    const std::optional<std::pair<qint64, qint64>> range = parameterRange(key);
    if (!range)
        return err();
    if (c.hasValue) {
        if (c.value < range->first || c.value > range->second)
            return err();
        params_.insert(key, c.value);
        if (key == "DP" && c.value >= 0 && c.value <= 5)
            config_.decimals = int(c.value);
        return ok();
    }
    // The trigger edge reads back as three digits ("E:001").
    if (key == "TE")
        return prefix + QByteArray::number(params_.value(key)).rightJustified(3, '0');
    return prefix + ValueText::signedFive(params_.value(key));
}

QByteArray Device::calibrate(const Command& c) {
    if (!calibration_.takeUnlock())
        return err();
    if (c.mnemonic == "CS") {
        store(c.mnemonic);
        return ok();
    }
    // Zero and gain are taken only from a signal at rest.
    if (!noMotion())
        return err();
    const qint64 raw = rawCounts();
    if (c.mnemonic == "CZ") {
        params_.insert("AZ", raw);
        return ok();
    }
    const std::optional<qint64> gain = Calibration::gainFor(c.value, raw, params_.value("AZ"));
    if (!gain)
        return err();
    params_.insert("AG", *gain);
    params_.insert("CG", c.value);
    return ok();
}

bool Device::cyclesResults() const {
    return profileActive() && activeProfile().yieldsResults();
}

QByteArray Device::averageReply() {
    if (!averageReplies_.isEmpty())
        return 'A' + averageReplies_.takeFirst();
    // A check-weigher says "+99999" until an item has been weighed and while the next one is.
    if (cyclesResults()) {
        const qint64 t = profileMs();
        if (activeProfile().measuringAt(t) || activeProfile().resultCountAt(t) == 0)
            return 'A' + ValueText::weight(99999, config_.decimals);
    }
    return valueLine('A');
}

void Device::startStream(Stream stream) {
    stream_ = stream;
    if (stream == Stream::Average && cyclesResults())
        averagesSent_ = activeProfile().resultCountAt(profileMs());
    const int interval = stream == Stream::Packets ? config_.packetUpdateMs : config_.updateMs;
    lineRateClock_.start();
    lineRateCredit_ = 0;
    restartSampleClock();
    streamTimer_.start(tarvo::TimeScale::ms(std::max(1, interval)));
}

QByteArray Device::valueStreamLine() const {
    const char letter = stream_ == Stream::Gross ? 'G' : 'N';
    if (config_.counterStart < 0)
        return valueLine(letter) + '\r';
    const qint64 count = (config_.counterStart + countedLinesSent_) % 100000;
    return letter + ValueText::weight(count, config_.decimals) + '\r';
}

int Device::linesTheWireCarries(qsizetype lineBytes) {
    // Ten bit times a byte; at most 50 ms of backlog, so a stalled simulator does not burst for long.
    const double deviceNs = double(lineRateClock_.nsecsElapsed()) / tarvo::TimeScale::factor();
    lineRateClock_.start();
    const double bytesPerNs = activeBaud() / 10.0 / 1e9;
    lineRateCredit_ = std::min(lineRateCredit_ + deviceNs * bytesPerNs, 50e6 * bytesPerNs);
    const int lines = int(lineRateCredit_ / double(lineBytes));
    lineRateCredit_ -= lines * double(lineBytes);
    return lines;
}

void Device::restartSampleClock() {
    sampleClock_.start();
    samplesSent_ = 0;
}

QByteArray Device::linesAtLineRate() {
    QByteArray out;
    const int lines = linesTheWireCarries(valueStreamLine().size());
    for (int n = 0; n < lines; ++n, ++countedLinesSent_)
        out += valueStreamLine();
    return out;
}

QByteArray Device::linesOfDueSamples() {
    // A transmitter measures on its own clock and its lines wait in buffers, not the other way round.
    // So each line carries the weight at its sample's time, and samples a busy machine kept the
    // simulator from sending go out together on the next tick (at most 50 ms of them), as a port
    // hands over a bunch of lines, instead of weights taken late at uneven times.
    const double factor = tarvo::TimeScale::factor();
    const double periodNs = double(config_.updateMs) * factor * 1e6;
    const double elapsedNs = double(sampleClock_.nsecsElapsed());
    const qint64 due = qint64(elapsedNs / periodNs + 0.5);
    samplesSent_ = std::max(samplesSent_, due - std::max(1, 50 / config_.updateMs));
    const qint64 now = profileMs();
    QByteArray out;
    for (; samplesSent_ < due; ++samplesSent_, ++countedLinesSent_) {
        const double lateMs = (elapsedNs - double(samplesSent_ + 1) * periodNs) / 1e6 / factor;
        sampleProfileMs_ = std::max<qint64>(0, now - std::llround(lateMs));
        out += valueStreamLine();
    }
    sampleProfileMs_.reset();
    return out;
}

void Device::streamTick() {
    if (resetting_)
        return;
    QByteArray line;
    switch (stream_) {
    case Stream::None:
        streamTimer_.stop();
        return;
    case Stream::Gross:
    case Stream::Net: {
        const QByteArray out = config_.updateMs == 0 ? linesAtLineRate() : linesOfDueSamples();
        if (!out.isEmpty())
            emit output(out, false);
        return;
    }
    case Stream::Average:
        // A weighing profile sends each new result once; a steady load repeats its weight.
        if (cyclesResults()) {
            const qint64 results = activeProfile().resultCountAt(profileMs());
            if (results <= averagesSent_)
                return;
            averagesSent_ = results;
        }
        line = valueLine('A');
        break;
    case Stream::Packets:
        cycle_.advance(config_.packetUpdateMs);
        line = currentPacket();
        break;
    case Stream::ImageRecords: {
        const int address = (imageRecordsSent_++ * DeviceImage::kRecordBytes) & 0xFFFF;
        line = ':' + DeviceImage::record(address, QByteArray(DeviceImage::kRecordBytes, char(address >> 4)));
        break;
    }
    }
    emit output(line + '\r', false);
}

} // namespace devsim
