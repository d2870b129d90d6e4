#pragma once

#include <QtGlobal>

namespace devsim {

// The weight and state a device reports in its status packets, moving through the cycles of its kind
// in device time: a check-weigher weighs passing items, a dosing controller fills containers, a loss
// weigher discharges and refills.
class WeighCycle {
public:
    enum class Kind { Steady, CheckWeigher, Dosing, LossWeigher };
    static Kind kindFor(int identity);

    WeighCycle(Kind kind, qint64 targetCounts, qint64 tareCounts);

    Kind kind() const { return kind_; }
    void setTarget(qint64 targetCounts, qint64 tareCounts);
    // Starts again at the beginning of a cycle.
    void restart();
    void advance(int deviceMs);

    int state() const { return phase().state; }
    qint64 gross() const;
    qint64 net() const { return gross() - tare_; }
    bool noMotion() const;
    // The measured (check-weigher) or dosed weight of the last finished cycle; the target before.
    qint64 lastResult() const { return haveResult_ ? lastResult_ : target_; }
    int cycles() const { return cycles_; }

    struct Phase {
        int state;
        int durationMs;
    };

private:
    const Phase& phase() const;
    int phaseCount() const;
    bool skipsPhase(int index) const;
    qint64 cycleTarget() const;
    void finishPhase();

    Kind kind_;
    qint64 target_;
    qint64 tare_;
    int index_ = 0;
    int msInPhase_ = 0;
    int cycles_ = 0;
    qint64 lastResult_ = 0;
    bool haveResult_ = false;
};

} // namespace devsim
