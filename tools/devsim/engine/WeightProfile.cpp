#include "WeightProfile.h"

#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>
#include <span>

namespace devsim {

namespace {

// The load through one cycle: piecewise linear between knots (two knots at one time make a jump); times
// are fractions of the period, levels fractions of the cycle's amount. Every cycle starts and ends empty.
struct Knot {
    double at;
    double level;
};
// The state reported until a fraction of the period.
struct StateSpan {
    double until;
    int state;
};

constexpr std::array<Knot, 6> stepKnots{{{0, 0}, {0.25, 0}, {0.25, 1}, {0.75, 1}, {0.75, 0}, {1, 0}}};
constexpr std::array<StateSpan, 1> idleOnly{{{1, 0}}};

// A weigh hopper: pre-fill, coarse fill, fine fill until the valve closes a little short of the target,
// the material still in the air lands, the weight is read, the hopper discharges.
constexpr std::array<Knot, 9> fillingKnots{
    {{0, 0}, {0.20, 0}, {0.26, 0.05}, {0.50, 0.85}, {0.70, 0.97}, {0.74, 1}, {0.88, 1}, {0.96, 0}, {1, 0}}};
// Idle, Zeroing, Tareing, PreFill, CoraseFill, FineFill, InFlightDelay, ReadFillingWeight, Idle.
constexpr std::array<StateSpan, 9> fillingStates{
    {{0.08, 0}, {0.14, 1}, {0.20, 2}, {0.26, 3}, {0.50, 4}, {0.70, 5}, {0.78, 6}, {0.88, 7}, {1, 0}}};

// A package runs onto the weigh belt, crosses it and runs off.
constexpr std::array<Knot, 6> packageKnots{{{0, 0}, {0.30, 0}, {0.42, 1}, {0.78, 1}, {0.90, 0}, {1, 0}}};
// Idle, AutoTare, Triged, Measuring, Idle.
constexpr std::array<StateSpan, 5> packageStates{{{0.15, 0}, {0.30, 1}, {0.50, 2}, {0.78, 4}, {1, 0}}};

struct ProfileName {
    const char* name;
    WeightProfile::Kind kind;
};
constexpr std::array<ProfileName, 5> profileNames{{
    {"constant", WeightProfile::Kind::Constant},
    {"noise", WeightProfile::Kind::Noise},
    {"step", WeightProfile::Kind::Step},
    {"filling", WeightProfile::Kind::Filling},
    {"checkweigher", WeightProfile::Kind::CheckWeigher},
}};

constexpr int noiseStepMs = 10;
constexpr int motionStepMs = 10;
constexpr double maxLoad = 1e6;

// A counter-based generator (splitmix64): the value for an index needs no state, so any time can be read
// in any order and still gives the same value for the same seed.
quint64 mix(quint64 x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Uniform in -1..1 for (seed, channel, index).
double unit(quint32 seed, quint64 channel, qint64 index) {
    const quint64 h = mix(mix((quint64(seed) << 8) | channel) ^ quint64(index));
    return double(h >> 11) * 0x1.0p-53 * 2.0 - 1.0;
}

qint64 floorDiv(qint64 a, qint64 b) {
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

struct WeightProfile::Shape {
    std::span<const Knot> knots;
    std::span<const StateSpan> states;
    double spread;      // each cycle's amount differs from the load by up to this fraction either way
    double resultFrom;  // the cycle's result is known from this fraction of the period on
    double measureFrom; // from here until resultFrom the cycle's result is being measured
};

const WeightProfile::Shape* WeightProfile::shape() const {
    static const Shape step{stepKnots, idleOnly, 0.0, 0.0, 0.0};
    static const Shape filling{fillingKnots, fillingStates, 0.004, 0.78, 0.20};
    static const Shape packages{packageKnots, packageStates, 0.03, 0.78, 0.30};
    switch (settings_.kind) {
    case Kind::Step:
        return &step;
    case Kind::Filling:
        return &filling;
    case Kind::CheckWeigher:
        return &packages;
    case Kind::Constant:
    case Kind::Noise:
        break;
    }
    return nullptr;
}

bool WeightProfile::kindFromName(const QString& name, Kind* kind) {
    for (const auto& entry : profileNames)
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0) {
            *kind = entry.kind;
            return true;
        }
    return false;
}

int WeightProfile::Settings::cycleMs() const {
    if (periodMs > 0)
        return periodMs;
    switch (kind) {
    case Kind::Step:
        return 4000;
    case Kind::Filling:
        return 5000;
    case Kind::CheckWeigher:
        return 1500;
    case Kind::Constant:
    case Kind::Noise:
        break;
    }
    return 1000;
}

bool WeightProfile::Settings::setKey(const QString& key, const QString& value, bool* known, QString* error) {
    *known = true;
    bool ok = true;
    auto toInt = [&](int lo, int hi) {
        const int v = value.toInt(&ok);
        ok = ok && v >= lo && v <= hi;
        return v;
    };
    if (key == u"profile") {
        ok = kindFromName(value, &kind);
    } else if (key == u"load") {
        const double v = value.toDouble(&ok);
        ok = ok && std::isfinite(v) && std::abs(v) <= maxLoad;
        if (ok)
            load = v;
    } else if (key == u"amplitude") {
        amplitude = toInt(0, 99999);
    } else if (key == u"period") {
        periodMs = toInt(100, 3600000);
    } else if (key == u"settle") {
        settlingMs = toInt(1, 1800000);
    } else if (key == u"seed") {
        const uint v = value.toUInt(&ok);
        if (ok)
            seed = v;
    } else {
        *known = false;
        return false;
    }
    if (!ok && error)
        *error = QStringLiteral("bad value for %1: \"%2\"").arg(key, value);
    return ok;
}

QString WeightProfile::Settings::problem() const {
    const bool cycling = kind == Kind::Step || kind == Kind::Filling || kind == Kind::CheckWeigher;
    // A load must settle before the next cycle's begins, or one cycle would run into the next.
    if (cycling && settlingMs * 2 > cycleMs())
        return QStringLiteral("settle (%1 ms) must be at most half the period (%2 ms)")
            .arg(settlingMs)
            .arg(cycleMs());
    return {};
}

QString WeightProfile::help() {
    return QStringLiteral(
        "Weight profiles (--device ...,profile=NAME and the keys below; the control command \"profile\"):\n"
        "  constant      the weight stays at weight=VALUE; the default\n"
        "  noise         the weight with load-cell noise of amplitude=COUNTS either side\n"
        "  step          empty for a quarter period, then load=VALUE put on, settling and held for half a\n"
        "                period, then taken off; repeating\n"
        "  filling       a dosing cycle filling load=VALUE: idle, zeroing, taring, pre-fill, coarse fill,\n"
        "                fine fill, in-flight delay, reading the filled weight, discharge; repeating, and\n"
        "                started again by \"SC\"; status packets carry the dosing states\n"
        "  checkweigher  packages of about load=VALUE passing: empty belt, auto-tare, rise, plateau,\n"
        "                fall; status packets carry the check-weigher states\n"
        "Profile keys: load=VALUE (display units, 100), amplitude=COUNTS (noise either side, 2),\n"
        "  period=MS (one cycle: step 4000, filling 5000, checkweigher 1500), settle=MS (the filtered\n"
        "  reading is within 1 % of a new load after this time, 300; at most half the period),\n"
        "  seed=N (1; the same seed gives the same values at the same times).\n"
        "A profile adds to weight=VALUE and runs in device time from the start or from its last change.\n"
        "The no-motion bit is clear while the filtered load has moved by more than the no-motion range\n"
        "(\"NR\", counts) within the last 300 ms; the over- and under-range bits are set while the weight\n"
        "is beyond plus or minus \"CM\" counts (99999), and value lines then read \"ooooooo\" or "
        "\"uuuuuuu\".\n");
}

WeightProfile::WeightProfile(const Settings& settings, int decimals)
    : settings_(settings), loadCounts_(settings.load * std::pow(10.0, decimals)) {
    // Within 1 % of a step after the settling time: the envelope exp(-decay t) / sqrt(1 - damping^2)
    // falls to 0.01 there.
    const double damping = std::clamp(settings.damping, 0.1, 0.99);
    const double root = std::sqrt(1.0 - damping * damping);
    decay_ = std::log(100.0 / root) / double(std::max(1, settings.settlingMs));
    ringing_ = decay_ / damping * root;
}

double WeightProfile::cycleAmount(qint64 cycle) const {
    const Shape* s = shape();
    return loadCounts_ * (1.0 + (s ? s->spread : 0.0) * unit(settings_.seed, 1, cycle));
}

double WeightProfile::filteredAt(qint64 ms) const {
    const Shape* s = shape();
    if (!s || ms < 0)
        return 0;
    const double a = decay_;
    const double w = ringing_;
    const double wn2 = a * a + w * w;
    // The filter's answer to a unit step and to a unit ramp (the step's integral), from the time they begin.
    auto step = [&](double t) {
        return t <= 0 ? 0.0 : 1.0 - std::exp(-a * t) * (std::cos(w * t) + a / w * std::sin(w * t));
    };
    auto ramp = [&](double t) {
        if (t <= 0)
            return 0.0;
        const double e = std::exp(-a * t);
        return t - (2 * a + e * (-2 * a * std::cos(w * t) + (w - a * a / w) * std::sin(w * t))) / wn2;
    };
    const qint64 period = settings_.cycleMs();
    const qint64 cycle = floorDiv(ms, period);
    const double inCycle = double(ms - cycle * period);
    double sum = 0;
    // The previous cycle's tail still rings a little into this one.
    for (qint64 k = std::max<qint64>(0, cycle - 1); k <= cycle; ++k) {
        const double t = inCycle + double((cycle - k) * period);
        const double amount = cycleAmount(k);
        for (size_t i = 0; i + 1 < s->knots.size(); ++i) {
            const double t0 = s->knots[i].at * double(period);
            const double t1 = s->knots[i + 1].at * double(period);
            const double rise = (s->knots[i + 1].level - s->knots[i].level) * amount;
            if (rise == 0)
                continue;
            if (t1 <= t0)
                sum += rise * step(t - t0);
            else
                sum += rise / (t1 - t0) * (ramp(t - t0) - ramp(t - t1));
        }
    }
    return sum;
}

qint64 WeightProfile::noiseAt(qint64 ms) const {
    if (settings_.kind == Kind::Constant || settings_.amplitude <= 0)
        return 0;
    // Two neighbouring draws averaged: bounded by the amplitude, and a little smoother than white noise.
    const qint64 k = floorDiv(ms, noiseStepMs);
    const double u = (unit(settings_.seed, 0, k) + unit(settings_.seed, 0, k - 1)) / 2.0;
    return std::llround(u * double(settings_.amplitude));
}

qint64 WeightProfile::weightAt(qint64 ms) const {
    return std::llround(filteredAt(ms)) + noiseAt(ms);
}

int WeightProfile::stateAt(qint64 ms) const {
    const Shape* s = shape();
    if (!s)
        return 0;
    const qint64 period = settings_.cycleMs();
    const double f = double(ms - floorDiv(ms, period) * period) / double(period);
    for (const StateSpan& span : s->states)
        if (f < span.until)
            return span.state;
    return s->states.back().state;
}

bool WeightProfile::movingAt(qint64 ms, int stillMs, qint64 stillCounts) const {
    if (!shape())
        return false;
    double low = filteredAt(ms);
    double high = low;
    for (qint64 t = ms - std::max(0, stillMs); t < ms; t += motionStepMs) {
        const double v = filteredAt(std::max<qint64>(0, t));
        low = std::min(low, v);
        high = std::max(high, v);
    }
    return std::llround(high) - std::llround(low) > stillCounts;
}

qint64 WeightProfile::resultAt(qint64 ms) const {
    const Shape* s = shape();
    if (!s || settings_.kind == Kind::Step)
        return std::llround(filteredAt(ms));
    const qint64 period = settings_.cycleMs();
    const qint64 cycle = floorDiv(ms, period);
    if (double(ms - cycle * period) >= s->resultFrom * double(period))
        return std::llround(cycleAmount(cycle));
    return cycle > 0 ? std::llround(cycleAmount(cycle - 1)) : std::llround(loadCounts_);
}

qint64 WeightProfile::resultCountAt(qint64 ms) const {
    const Shape* s = shape();
    if (!s || settings_.kind == Kind::Step || ms < 0)
        return 0;
    const qint64 period = settings_.cycleMs();
    const qint64 cycle = floorDiv(ms, period);
    return cycle + (double(ms - cycle * period) >= s->resultFrom * double(period) ? 1 : 0);
}

bool WeightProfile::measuringAt(qint64 ms) const {
    const Shape* s = shape();
    if (!s || settings_.kind == Kind::Step || ms < 0)
        return false;
    const qint64 period = settings_.cycleMs();
    const double f = double(ms - floorDiv(ms, period) * period) / double(period);
    return f >= s->measureFrom && f < s->resultFrom;
}

} // namespace devsim
