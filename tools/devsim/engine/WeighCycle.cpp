#include "WeighCycle.h"

#include <algorithm>
#include <array>

namespace devsim {

namespace {

struct IdentityKind {
    int identity;
    WeighCycle::Kind kind;
};
constexpr std::array<IdentityKind, 9> identityKinds{{
    {4113, WeighCycle::Kind::CheckWeigher},
    {5113, WeighCycle::Kind::CheckWeigher},
    {4313, WeighCycle::Kind::CheckWeigher},
    {3010, WeighCycle::Kind::CheckWeigher},
    {6110, WeighCycle::Kind::CheckWeigher},
    {4114, WeighCycle::Kind::Dosing},
    {5114, WeighCycle::Kind::Dosing},
    {4314, WeighCycle::Kind::Dosing},
    {5115, WeighCycle::Kind::LossWeigher},
}};

using Phase = WeighCycle::Phase;
// Check-weigher: idle, auto-tare, triggered, (every third item retriggered), measuring.
constexpr int checkRetrigIndex = 3;
constexpr std::array<Phase, 5> checkPhases{{{0, 400}, {1, 200}, {2, 150}, {3, 150}, {4, 300}}};
// Dosing: idle, zeroing, taring, pre-fill, coarse fill, fine fill, in-flight delay, read filling weight.
constexpr std::array<Phase, 8> dosingPhases{
    {{0, 300}, {1, 200}, {2, 200}, {3, 300}, {4, 600}, {5, 400}, {6, 200}, {7, 300}}};
// Loss weigher: refill, then a long discharge.
constexpr std::array<Phase, 2> lossPhases{{{1, 600}, {2, 4000}}};
constexpr Phase steadyPhase{0, 1000};

qint64 lerp(qint64 a, qint64 b, double f) {
    return a + qint64((double(b) - double(a)) * std::clamp(f, 0.0, 1.0));
}

} // namespace

WeighCycle::Kind WeighCycle::kindFor(int identity) {
    for (const auto& entry : identityKinds)
        if (entry.identity == identity)
            return entry.kind;
    return Kind::Steady;
}

WeighCycle::WeighCycle(Kind kind, qint64 targetCounts, qint64 tareCounts)
    : kind_(kind), target_(targetCounts), tare_(tareCounts) {}

void WeighCycle::setTarget(qint64 targetCounts, qint64 tareCounts) {
    target_ = targetCounts;
    tare_ = tareCounts;
}

void WeighCycle::restart() {
    index_ = 0;
    msInPhase_ = 0;
}

int WeighCycle::phaseCount() const {
    switch (kind_) {
    case Kind::CheckWeigher:
        return int(checkPhases.size());
    case Kind::Dosing:
        return int(dosingPhases.size());
    case Kind::LossWeigher:
        return int(lossPhases.size());
    case Kind::Steady:
        break;
    }
    return 1;
}

const WeighCycle::Phase& WeighCycle::phase() const {
    switch (kind_) {
    case Kind::CheckWeigher:
        return checkPhases[size_t(index_)];
    case Kind::Dosing:
        return dosingPhases[size_t(index_)];
    case Kind::LossWeigher:
        return lossPhases[size_t(index_)];
    case Kind::Steady:
        break;
    }
    return steadyPhase;
}

bool WeighCycle::skipsPhase(int index) const {
    // Only every third item is heavy enough to retrigger the check-weigher.
    return kind_ == Kind::CheckWeigher && index == checkRetrigIndex && cycles_ % 3 != 2;
}

qint64 WeighCycle::cycleTarget() const {
    // Items differ a little from one another: -1 % .. +1 % in a fixed pattern.
    const int step = (cycles_ * 5) % 7 - 3;
    return target_ + target_ * step / 300;
}

void WeighCycle::finishPhase() {
    const int before = state();
    if ((kind_ == Kind::CheckWeigher && before == 4) || (kind_ == Kind::Dosing && before == 7)) {
        lastResult_ = gross();
        haveResult_ = true;
    }
    do {
        ++index_;
        if (index_ >= phaseCount()) {
            index_ = 0;
            ++cycles_;
        }
    } while (skipsPhase(index_));
    msInPhase_ = 0;
}

void WeighCycle::advance(int deviceMs) {
    if (kind_ == Kind::Steady)
        return;
    msInPhase_ += std::max(0, deviceMs);
    while (msInPhase_ >= phase().durationMs) {
        const int rest = msInPhase_ - phase().durationMs;
        finishPhase();
        msInPhase_ = rest;
    }
}

qint64 WeighCycle::gross() const {
    const double f = double(msInPhase_) / double(phase().durationMs);
    const qint64 t = cycleTarget();
    switch (kind_) {
    case Kind::Steady:
        return target_;
    case Kind::CheckWeigher:
        switch (state()) {
        case 2:
            return lerp(0, t + t / 20, f); // the item arrives and swings over
        case 3:
            return lerp(t + t / 20, t, f);
        case 4:
            return lerp(skipsPhase(checkRetrigIndex) ? t + t / 20 : t, t, f * 3); // settles
        default:
            return 0;
        }
    case Kind::Dosing:
        switch (state()) {
        case 2:
            return tare_;
        case 3:
            return tare_ + lerp(0, t / 10, f);
        case 4:
            return tare_ + lerp(t / 10, t * 9 / 10, f);
        case 5:
            return tare_ + lerp(t * 9 / 10, t - t / 100, f);
        case 6:
        case 7:
            return tare_ + lerp(t - t / 100, t + t / 300, state() == 6 ? f : 1.0);
        default:
            return 0;
        }
    case Kind::LossWeigher:
        return state() == 1 ? lerp(t / 5, t, f) : lerp(t, t / 5, f);
    }
    return 0;
}

bool WeighCycle::noMotion() const {
    switch (kind_) {
    case Kind::Steady:
        return true;
    case Kind::CheckWeigher:
        return state() == 0 || state() == 1 || (state() == 4 && msInPhase_ * 3 >= phase().durationMs);
    case Kind::Dosing:
        return state() <= 2 || state() == 7;
    case Kind::LossWeigher:
        return false;
    }
    return true;
}

} // namespace devsim
