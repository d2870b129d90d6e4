#pragma once

#include "MeasureHooks.h"
#include "TThreadedTimer.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace tarvo {

class Communication_Unit;
class GraphModel;
class LiveReadout;
class Operator;
class RecordingMemory;
class StreamDispatcher;
struct StatusPacket;

// Recording the device's stream: the Display page's run panel (RUN, STOP, PAUSE, TRIGGER), the trigger
// state machine, the step-time and refresh timers, the sample options, the status lamp and labels, the
// draw operations for finished captures, and the Display page's own start and end.
class Acquisition : public QObject {
    Q_OBJECT
public:
    enum class State {
        Stopped = 0,
        Capturing = 1,
        WaitingForTrigger = 2,
        Arming = 3,
        Done = 4,
        DoneRearm = 5
    };
    enum class Lamp { Green, Yellow, Red, RedBlink };
    enum class DrawKind { Values = 0, CheckWeigher = 1, Dosing = 2 };

    static constexpr const char* kCannotStartCycle = "Can not start cycle!";
    static constexpr const char* kCannotStartLoss = "Can not start Loss Controle";
    static constexpr const char* kCannotStartLossTimeout = "Can not start Loss Controle ";
    static constexpr const char* kOutOfRange = "TrigerLevel or SampleTime is out of range!";
    static constexpr const char* kTriggerLevelRange = "Triggerlevel out of range 0...99999 counts";
    static constexpr const char* kSampleTimeRange = "SampleTime out of range 0...200000 ms";
    static constexpr const char* kTriggerTimeout = "Trigger timeout!  ";
    static constexpr const char* kSampleTimeExpired = "Sampletime expired before filling cycle stopped!";
    static constexpr const char* kCorrupted = "Data has been out of range or corrupted during test!";
    static constexpr const char* kCapacityReached = "Max 500.000 samples reached - recording stopped!";
    static constexpr const char* kLampHint =
        "Green = Ready    Yellow = Waiting for trigger    Red = Busy    RedBlink = Error";
    static const QStringList& waitForTriggerTexts();
    static const QStringList& useEveryTexts();

    Acquisition(Communication_Unit& comm, Operator& op, LiveReadout& readout, RecordingMemory& memory,
                GraphModel& graph, MeasureHooks hooks, QObject* parent = nullptr);
    ~Acquisition() override;

    // Display page.
    void TabSheet1Show();
    void TabSheet1Hide();
    void StartAutotransmitClick();
    // A change of the autotransmit selection by the operator (or a read-back): runs only on a change.
    void setAutotransmit(const QString& selection);

    // Run panel. RUN and STOP form one group of which exactly one is down.
    void RUNClick();
    void STOPClick();
    void PAUSEClick(bool down);
    void TRIGGERClick(bool down);
    bool runDown() const { return runDown_; }
    bool stopDown() const { return !runDown_; }
    bool pauseDown() const { return pauseDown_; }
    bool triggerDown() const { return triggerDown_; }
    bool runPanelEnabled() const { return runPanelEnabled_; }
    bool buttonGroupLocked() const { return buttonGroupLocked_; }
    bool toolBarLocked() const { return toolBarLocked_; }
    bool logDosingEnabled() const { return logDosingEnabled_; }

    // Sample options. The *Edited setters run the entry checks; restore* set without them.
    const QString& triggerLevelText() const { return triggerLevel_; }
    void triggerLevelEdited(const QString& text);
    const QString& sampleTimeText() const { return sampleTimeText_; }
    void sampleTimeEdited(const QString& text);
    void restoreSampleOptions(const QString& triggerLevel, const QString& sampleTime);
    int waitForTrigger() const { return waitForTrigger_; }
    void setWaitForTrigger(int index);
    bool longTermSampleEnable() const { return longTerm_; }
    void setLongTermSampleEnable(bool on) { longTerm_ = on; }
    int useEvery() const { return useEvery_; }
    void setUseEvery(int index);
    int useEveryValue() const;
    bool useStatusInformation() const { return useStatus_; }
    void setUseStatusInformation(bool on) { useStatus_ = on; }
    bool retrigAfterDraw() const { return retrig_; }
    void setRetrigAfterDraw(bool on) { retrig_ = on; }

    int selectedSlot() const { return selectedSlot_; }
    void setSelectedSlot(int slot);

    State state() const { return state_; }
    Lamp lamp() const { return lamp_; }
    int sampleIndex() const { return sampleIndex_; }
    int captureCount() const { return captureCount_; }
    double stepTime() const { return stepTime_; }
    double runClock() const { return runClock_; }
    // "Clear all graph's" and RESET start the time axis again: run clock and last value 0.
    void resetRunClock() {
        runClock_ = 0;
        lastValue_ = 0;
    }
    int progress() const { return progress_; }
    DrawKind lastDrawKind() const { return lastDrawKind_; }
    QString stepTimeLabel() const;
    QString sampleLabel() const { return QStringLiteral("SampleNr: %1").arg(sampleIndex_); }
    // The loss decimal count read with "PL1" at RUN; -1 when none was read.
    int lossDecimals() const { return lossDecimals_; }

    TThreadedTimer& RealTime() { return realTime_; }
    QTimer& LiveDrawRefreshTimer() { return liveDraw_; }
    QTimer& WaitForTriggerTimer() { return waitForTriggerTimer_; }
    QTimer& GA() { return ga_; }
    QTimer& GD() { return gd_; }
    // The graphics performance setting: 10 to 400 ms.
    void setLiveDrawInterval(int ms);

    void RealTimeTimer();
    void LiveDrawRefreshTimerTimer();
    void WaitForTriggerTimerTimer();

    // Drawing a finished capture into the selected slot's series.
    void DrawGraphData();
    void DrawCheckData();
    void DrawDoseData();
    // "Redraw graph": draws the selected slot again from its own records, the way it was first drawn;
    // the recording itself is never touched.
    void redrawSelectedSlot();

    // Milliseconds on the capture clock (monotonic, in device time).
    static double nowMs();

signals:
    void changed(); // buttons, locks, labels, progress or state
    void lampChanged(Lamp lamp);
    // The one-shot reads behind GA (average) and GD (dosed value) are due.
    void averageReadDue();
    void dosedReadDue();

private:
    friend class StreamDispatcher;

    bool startRecording();
    void Stop();
    void triggerSequence(bool first);
    void enableStream();
    void setLamp(Lamp lamp);
    void setState(State s) { state_ = s; }
    void lockForDrawing();
    void unlockAfterDrawing();
    // Plots slot `slot` from its records: the part of a drawing that does not copy a capture.
    void plotSlot(int slot);
    void afterDrawing();
    void stepTimerStartIfIdle();

    // Packet side, called by the stream dispatcher.
    bool runRecording(double value);
    void asciiTrigger(double value);
    void packetTrigger(const StatusPacket& p, bool dosing);
    void endPacketCapture(bool dosing);
    void capacityReached();

    Communication_Unit& comm_;
    Operator& op_;
    LiveReadout& readout_;
    RecordingMemory& memory_;
    GraphModel& graph_;
    MeasureHooks hooks_;

    TThreadedTimer realTime_;
    QTimer liveDraw_;
    QTimer waitForTriggerTimer_;
    QTimer ga_;
    QTimer gd_;

    bool runDown_ = false;
    bool pauseDown_ = false;
    bool triggerDown_ = false;
    bool runPanelEnabled_ = true;
    bool buttonGroupLocked_ = false;
    bool toolBarLocked_ = false;
    bool logDosingEnabled_ = true;

    QString triggerLevel_ = QStringLiteral("15");
    QString sampleTimeText_ = QStringLiteral("1000");
    int waitForTrigger_ = 0;
    bool longTerm_ = false;
    int useEvery_ = 1;
    bool useStatus_ = false;
    bool retrig_ = false;
    int selectedSlot_ = 1;

    State state_ = State::Stopped;
    Lamp lamp_ = Lamp::Green;
    int sampleIndex_ = 0;
    int captureCount_ = 0;
    int packetCounter_ = 0;
    int stepInterval_ = 1000; // device ms
    double stepTime_ = 0;
    double runClock_ = 0;
    double lastValue_ = 0;
    int sampleTime_ = 1000; // T
    double startTime_ = 0;
    double elapsed_ = 0;
    double reference_ = 0; // R
    int previousState_ = 0;
    int progress_ = 0;
    int lossDecimals_ = -1;
    DrawKind lastDrawKind_ = DrawKind::Values;
};

} // namespace tarvo
