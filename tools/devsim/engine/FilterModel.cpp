#include "FilterModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace devsim {

namespace {

constexpr std::array<double, 9> iirCutoffs{FilterModel::kRawBandHz, 18, 8, 4, 3, 2, 1, 0.5, 0.25};
constexpr std::array<double, 9> firCutoffs{FilterModel::kRawBandHz, 19.7, 9.8, 6.5, 4.9, 3.9, 3.2, 2.8, 2.5};
// Output rates of the update-rate choices (IIR); the cut-off stays below a quarter of the output rate.
constexpr std::array<double, 8> outputRates{600, 300, 150, 75, 37.5, 18.75, 9.38, 4.69};
constexpr std::array<double, 8> mxr21Cutoffs{5, 2, 1, 0.5, 0.2, 0.1, 0.05, 0.02};
constexpr std::array<double, 6> mxr23Cutoffs{3, 2, 1.5, 1, 0.5, 0.2};
constexpr std::array<double, 8> mxr4110Cutoffs{14, 7, 6, 5, 4, 3, 2, 1};
// Butterworth, Bessel, Gaussian: the smoother the characteristic, the less it overshoots.
constexpr std::array<double, 3> characteristicDamping{0.707, 0.85, 0.95};
constexpr double iirDamping = 0.7;
constexpr double firDamping = 0.9;

} // namespace

bool FilterModel::usesFilterIndex(int identity) {
    return highestIndex(identity) != 8;
}

int FilterModel::highestIndex(int identity) {
    switch (identity) {
    case 3710:
    case 2110:
    case 2113:
    case 2114:
        return 7;
    case 2310:
        return 17;
    case 4110:
        return 23;
    default:
        return 8;
    }
}

int FilterModel::settlingMs(double cutoffHz, double damping) {
    // The envelope exp(-zeta wn t) / sqrt(1 - zeta^2) of the step response falls to 1 % there.
    const double wn = 2 * std::numbers::pi * cutoffHz / 1000.0;
    const double root = std::sqrt(1.0 - damping * damping);
    return int(std::ceil(std::log(100.0 / root) / (damping * wn)));
}

double FilterModel::stepSettlingMs(const FilterResponse& r, double bandFraction) {
    // The same response the simulated profile follows: decay and ringing from the envelope's settling.
    const double damping = std::clamp(r.damping, 0.1, 0.99);
    const double root = std::sqrt(1.0 - damping * damping);
    const double a = std::log(100.0 / root) / double(std::max(1, r.settlingMs));
    const double w = a / damping * root;
    auto step = [&](double t) {
        return 1.0 - std::exp(-a * t) * (std::cos(w * t) + a / w * std::sin(w * t));
    };
    const double dt = 0.05;
    double crossing = -1;
    double lastOutside = 0;
    for (double t = 0; t < 4.0 * r.settlingMs; t += dt) {
        const double v = step(t);
        if (crossing < 0 && v >= 0.1)
            crossing = t;
        if (std::abs(v - 1.0) > bandFraction)
            lastOutside = t + dt;
    }
    return std::max(0.0, lastOutside - std::max(0.0, crossing));
}

double FilterModel::noiseSigma(const FilterResponse& r) {
    // (u1 + u2) / 2 of two uniform draws in -1..1 has a variance of 1/6; rounding adds 1/12.
    const double a = r.noiseAmplitude;
    return a > 0 ? std::sqrt(a * a / 6.0 + 1.0 / 12.0) : 0.0;
}

FilterResponse FilterModel::response(int identity, int mode, int levelOrIndex, int rate, int rawAmplitude) {
    FilterResponse r;
    const int highest = highestIndex(identity);
    const int i = std::clamp(levelOrIndex, 0, highest);
    if (!usesFilterIndex(identity)) {
        const bool fir = mode == 1;
        r.cutoffHz = (fir ? firCutoffs : iirCutoffs)[size_t(i)];
        r.cutoffHz = std::min(r.cutoffHz, outputRates[size_t(std::clamp(rate, 0, 7))] / 4.0);
        r.damping = fir ? firDamping : iirDamping;
    } else if (highest == 7) {
        r.cutoffHz = mxr21Cutoffs[size_t(i)];
        r.damping = characteristicDamping[1];
    } else {
        const int step = i / 3;
        r.cutoffHz = highest == 17 ? mxr23Cutoffs[size_t(step)] : mxr4110Cutoffs[size_t(step)];
        r.damping = characteristicDamping[size_t(i % 3)];
    }
    r.settlingMs = settlingMs(r.cutoffHz, r.damping);
    // White noise through a low pass keeps the square root of its bandwidth's share.
    const double share = std::min(1.0, r.cutoffHz / kRawBandHz);
    r.noiseAmplitude = int(std::lround(double(std::max(0, rawAmplitude)) * std::sqrt(share)));
    return r;
}

} // namespace devsim
