#pragma once

#include "MeasureHooks.h"
#include "SampleOptions.h"
#include "ThreadedTimer.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>

namespace tarvo {

class CommandLink;
class GraphModel;
class LiveReadout;
class Operator;
class RecordingMemory;
struct SampleRecord;
struct StatusPacket;

// Recording the device's stream: the Display page's run panel (RUN, STOP, PAUSE, TRIGGER), the trigger
// state machine, the step-time and refresh timers, the status lamp and labels, the locks a recording
// holds, and the drawing of finished captures into the selected slot.
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
    static constexpr const char* kTriggerTimeout = "Trigger timeout!  ";
    static constexpr const char* kSampleTimeExpired = "Sampletime expired before filling cycle stopped!";
    static constexpr const char* kCorrupted = "Data has been out of range or corrupted during test!";
    static constexpr const char* kCapacityReached = "Max 500.000 samples reached - recording stopped!";
    static constexpr const char* kLampHint =
        "Green = Ready    Yellow = Waiting for trigger    Red = Busy    RedBlink = Error";

    Acquisition(CommandLink& link, Operator& op, LiveReadout& readout, RecordingMemory& memory,
                GraphModel& graph, MeasureHooks hooks, QObject* parent = nullptr);
    ~Acquisition() override;

    // Run panel. RUN and STOP form one group of which exactly one is down.
    void runClicked();
    void stopClicked();
    void pauseClicked(bool down);
    void triggerClicked(bool down);
    // The port went away (adapter unplugged): STOP, with the lamp and the readout saying so.
    void linkLost();
    // Find Device reached the device: a lamp blinking for a lost link goes back to green.
    void deviceFound();
    // Leaving the Display page: the run panel and "Log Dosing Graph Data" free again, then STOP.
    void displayPageLeft();
    bool runDown() const { return runDown_; }
    // RUN is down and its stream has been started: packets from now on are samples of this recording.
    bool runRecording() const { return runDown_ && runArmed_; }
    bool stopDown() const { return !runDown_; }
    bool pauseDown() const { return pauseDown_; }
    bool triggerDown() const { return triggerDown_; }
    bool runPanelEnabled() const { return runPanelEnabled_; }
    bool buttonGroupLocked() const { return buttonGroupLocked_; }
    bool toolBarLocked() const { return toolBarLocked_; }
    bool logDosingEnabled() const { return logDosingEnabled_; }

    SampleOptions& options() { return options_; }
    const SampleOptions& options() const { return options_; }

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

    ThreadedTimer& stepTimer() { return stepTimer_; }
    QTimer& liveDrawTimer() { return liveDrawTimer_; }
    QTimer& waitForTriggerTimer() { return waitForTriggerTimer_; }
    // The one-shot average read (100 ms) and dosed-value read (2000 ms) that a finished cycle starts.
    QTimer& averageReadTimer() { return averageRead_; }
    QTimer& dosedReadTimer() { return dosedRead_; }
    // The graphics performance setting: 10 to 400 ms.
    void setLiveDrawInterval(int ms);

    void stepTimeTick();
    void liveDrawTick();
    void waitForTriggerExpired();

    // Drawing a finished capture into the selected slot's series.
    void drawValueCapture();
    void drawCheckWeigherCapture();
    void drawDosingCapture();
    // "Redraw graph": draws the selected slot again from its own records, the way it was first drawn;
    // the recording itself is never touched.
    void redrawSelectedSlot();

    // ---- What the stream decoders do to the recording, packet by packet ----
    // A packet that is not recorded (PAUSE, over or under range): the step time pauses, the lamp yellow.
    void packetNotRecorded();
    // The end of every packet's handling: a RUN whose step-time timer was stopped starts it again.
    void packetHandled();
    // RUN on a status stream: the next capture record (lamp red, wait timer stopped) with its state
    // and gross set, or null when the recording is full (which ends it).
    SampleRecord* nextRunRecord(const StatusPacket& p);
    // RUN: one value into the selected slot and the live trace; false when the recording is full.
    bool recordRunValue(double value);
    // TRIGGER: the value and status-packet rows of the trigger state machine.
    void triggerValue(double value);
    void triggerPacket(const StatusPacket& p, bool dosing);
    // The state of the last status packet a decoder handled (0 when RUN or TRIGGER starts).
    int previousState() const { return previousState_; }
    void setPreviousState(int state) { previousState_ = state; }

    // Milliseconds on the capture clock (monotonic, in device time).
    static double nowMs();

signals:
    void changed(); // buttons, locks, labels, progress or state
    void lampChanged(Lamp lamp);
    // The one-shot reads behind the average and dosed-value timers are due.
    void averageReadDue();
    void dosedReadDue();

private:
    // The recording ends; the device is told to stream gross values again unless the link is gone.
    void stop(bool tellDevice = true);
    void triggerSequence(bool first);
    void enableStream();
    // Inline: a recording sets the same lamp on every line.
    void setLamp(Lamp lamp) {
        if (lamp_ != lamp)
            changeLamp(lamp);
    }
    void changeLamp(Lamp lamp);
    void setState(State s) { state_ = s; }
    void lockForDrawing();
    void unlockAfterDrawing();
    void plotSlot(int slot);
    void afterDrawing();
    void endPacketCapture(bool dosing);
    void capacityReached();

    CommandLink& link_;
    Operator& op_;
    LiveReadout& readout_;
    RecordingMemory& memory_;
    GraphModel& graph_;
    MeasureHooks hooks_;
    SampleOptions options_;

    ThreadedTimer stepTimer_;
    QTimer liveDrawTimer_;
    QTimer waitForTriggerTimer_;
    QTimer averageRead_;
    QTimer dosedRead_;

    bool runDown_ = false;
    bool runArmed_ = false;
    bool pauseDown_ = false;
    bool triggerDown_ = false;
    bool runPanelEnabled_ = true;
    bool buttonGroupLocked_ = false;
    bool toolBarLocked_ = false;
    bool logDosingEnabled_ = true;
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
    double startTime_ = 0;
    double elapsed_ = 0;
    double reference_ = 0; // R
    int previousState_ = 0;
    int progress_ = 0;
    int lossDecimals_ = -1;
    DrawKind lastDrawKind_ = DrawKind::Values;
    std::uint64_t drawnLiveRevision_ = 0; // the live trace as the last live-draw repaint showed it
};

} // namespace tarvo
