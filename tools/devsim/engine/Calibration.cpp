#include "Calibration.h"

#include <cmath>

namespace devsim {

namespace {
constexpr qint64 kMaxGain = 99999;
constexpr int kCodes = 100000;
} // namespace

Calibration::Calibration(quint32 seed) : state_(seed) {
    code_ = int(state_ % kCodes);
}

void Calibration::nextCode() {
    // A small congruential step: deterministic for a device, never the same code twice in a row.
    const int previous = code_;
    do {
        state_ = state_ * 1664525u + 1013904223u;
        code_ = int((state_ >> 8) % kCodes);
    } while (code_ == previous);
}

int Calibration::handOutCode() {
    if (tried_) {
        nextCode();
        tried_ = false;
    }
    return code_;
}

bool Calibration::unlock(qint64 value) {
    tried_ = true;
    unlocked_ = value == code_;
    return unlocked_;
}

bool Calibration::takeUnlock() {
    const bool was = unlocked_;
    unlocked_ = false;
    return was;
}

qint64 Calibration::display(qint64 raw, qint64 zero, qint64 gain) {
    return std::llround(double(raw - zero) * double(gain) / double(kUnitGain));
}

std::optional<qint64> Calibration::gainFor(qint64 load, qint64 raw, qint64 zero) {
    const qint64 span = raw - zero;
    if (load <= 0 || span <= 0)
        return std::nullopt;
    const qint64 gain = std::llround(double(load) * double(kUnitGain) / double(span));
    if (gain < 1 || gain > kMaxGain)
        return std::nullopt;
    return gain;
}

} // namespace devsim
