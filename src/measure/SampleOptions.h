#pragma once

#include <QString>
#include <QStringList>

namespace tarvo {

class Operator;

// The Options page's "Sample options": trigger level and sample time (as typed, with their checks),
// the wait for a trigger, long-term sampling, status information and re-arming after a draw. Also
// keeps long-term sampling's thinning counter, which decides packet by packet what is recorded.
class SampleOptions {
public:
    static constexpr const char* kOutOfRange = "TrigerLevel or SampleTime is out of range!";
    static constexpr const char* kTriggerLevelRange = "Triggerlevel out of range 0...99999 counts";
    static constexpr const char* kSampleTimeRange = "SampleTime out of range 0...200000 ms";
    static const QStringList& waitForTriggerTexts();
    static const QStringList& useEveryTexts();

    explicit SampleOptions(Operator& op) : op_(op) {}

    // The *Edited setters run the entry checks and report on the Options page; restore sets without them.
    const QString& triggerLevelText() const { return triggerLevel_; }
    void triggerLevelEdited(const QString& text);
    const QString& sampleTimeText() const { return sampleTimeText_; }
    void sampleTimeEdited(const QString& text);
    void restoreSampleOptions(const QString& triggerLevel, const QString& sampleTime);
    // Both entries hold numbers in their ranges (the check TRIGGER makes before it arms).
    bool triggerEntriesValid() const;
    double triggerLevel() const { return triggerLevel_.toDouble(); }
    // T, the sample time in ms: follows every valid edit, and is taken from the entry when TRIGGER arms.
    int sampleTime() const { return sampleTime_; }
    void takeSampleTime() { sampleTime_ = sampleTimeText_.toInt(); }

    int waitForTrigger() const { return waitForTrigger_; }
    void setWaitForTrigger(int index);
    // 10000..60000, or 0 for "Infinite".
    int waitForTriggerMs() const;
    const QString& waitForTriggerText() const { return waitForTriggerTexts().at(waitForTrigger_); }

    bool longTermSampleEnable() const { return longTerm_; }
    void setLongTermSampleEnable(bool on) { longTerm_ = on; }
    int useEvery() const { return useEvery_; }
    void setUseEvery(int index);
    int useEveryValue() const;
    // Long-term sampling, asked once per stream packet: with "Enable" set one packet in every N + 1 is
    // recorded (N = the "Use every" value); without it every packet is. Inline: asked at the line rate.
    bool takesPacket() {
        if (!longTerm_) {
            thinning_ = 1;
            return true;
        }
        return takesThinnedPacket();
    }

    bool useStatusInformation() const { return useStatus_; }
    void setUseStatusInformation(bool on) { useStatus_ = on; }
    bool retrigAfterDraw() const { return retrig_; }
    void setRetrigAfterDraw(bool on) { retrig_ = on; }

private:
    bool takesThinnedPacket();
    Operator& op_;
    QString triggerLevel_ = QStringLiteral("15");
    QString sampleTimeText_ = QStringLiteral("1000");
    int sampleTime_ = 1000;
    int waitForTrigger_ = 0;
    bool longTerm_ = false;
    int useEvery_ = 1;
    int thinning_ = 1;
    bool useStatus_ = false;
    bool retrig_ = false;
};

} // namespace tarvo
