#pragma once

#include <QString>
#include <QtGlobal>

namespace devsim {

// What the load on a simulated load cell does over time, on top of the device's constant weight: stays
// (constant), jitters (noise), is put on and taken off (step), is filled and discharged (filling), or
// passes by as packages (checkweigher). The reading is the load seen through the transmitter's filter, a
// damped second-order response that overshoots a little and is within 1 % of a new load after the
// settling time. Everything is a function of device time since the profile started and of the seed, so
// the same seed gives the same values at the same times.
class WeightProfile {
public:
    enum class Kind { Constant, Noise, Step, Filling, CheckWeigher };

    struct Settings {
        Kind kind = Kind::Constant;
        double load = 100.0;  // display units: the step's load, the fill target, the package weight
        int amplitude = 2;    // noise, counts either side
        int periodMs = 0;     // one cycle; 0 takes the profile's own
        int settlingMs = 300; // a new load is read within 1 % after this time
        double damping = 0.7; // of the filter's response: a few percent overshoot, as a well-set filter shows
        quint32 seed = 1;

        // Applies one key of a device description; known is false for a key that is not the profile's.
        bool setKey(const QString& key, const QString& value, bool* known, QString* error);
        // Empty when these settings make a profile, else why not.
        QString problem() const;
        int cycleMs() const;
    };

    static bool kindFromName(const QString& name, Kind* kind);
    static QString help();

    WeightProfile() = default;
    // decimals turns the load from display units into counts.
    WeightProfile(const Settings& settings, int decimals);

    Kind kind() const { return settings_.kind; }
    const Settings& settings() const { return settings_; }

    // Everything at ms of device time after the profile started, in counts above the constant weight.
    qint64 weightAt(qint64 ms) const;
    // 0 for constant, noise and step; the dosing states while filling; the check-weigher states.
    int stateAt(qint64 ms) const;
    // The filtered load moved by more than stillCounts within the last stillMs (noise is not motion).
    bool movingAt(qint64 ms, int stillMs, qint64 stillCounts) const;
    // What an average or dosed-weight read reports: the last dosed or measured weight, the load before
    // the first one; the settled reading for the other profiles.
    qint64 resultAt(qint64 ms) const;
    // How many cycle results are known at ms (a new average or dosed weight each time it grows), and
    // whether an item is being weighed or a container filled whose result is not known yet.
    qint64 resultCountAt(qint64 ms) const;
    // Whether the profile weighs items or fills containers, each with a result of its own.
    bool yieldsResults() const {
        return settings_.kind == Kind::Filling || settings_.kind == Kind::CheckWeigher;
    }
    bool measuringAt(qint64 ms) const;

private:
    struct Shape;
    const Shape* shape() const;
    double filteredAt(qint64 ms) const;
    double cycleAmount(qint64 cycle) const;
    qint64 noiseAt(qint64 ms) const;

    Settings settings_;
    double loadCounts_ = 0;
    // The filter's decay rate and ringing frequency per ms.
    double decay_ = 0;
    double ringing_ = 0;
};

} // namespace devsim
