#pragma once

#include <QtGlobal>
#include <optional>

namespace devsim {

// A transmitter's protected calibration: the "CE" handshake whose code changes once it has been used,
// and the arithmetic of zero ("AZ", raw counts at zero load) and gain ("AG", 10000 = 1.0) that turns
// the raw reading into the displayed one.
class Calibration {
public:
    static constexpr qint64 kUnitGain = 10000;

    explicit Calibration(quint32 seed);

    // The code a "CE" query hands out: the same until it has been tried, a new one after that.
    int handOutCode();
    int code() const { return code_; }
    // "CE" + value: the right code opens the device for one protected command.
    bool unlock(qint64 value);
    bool unlocked() const { return unlocked_; }
    // A protected command asks to run: true when the device was open; it is locked again either way.
    bool takeUnlock();
    void lock() { unlocked_ = false; }

    // The displayed counts for a raw reading.
    static qint64 display(qint64 raw, qint64 zero, qint64 gain);
    // The gain that shows `load` counts at raw reading `raw`; none when no load is on the cell or the
    // gain would leave the five digits the device keeps it in.
    static std::optional<qint64> gainFor(qint64 load, qint64 raw, qint64 zero);

private:
    void nextCode();

    quint32 state_;
    int code_ = 0;
    bool tried_ = false;
    bool unlocked_ = false;
};

} // namespace devsim
