#include "Acquisition.h"

#include "FullDuplexCheck.h"
#include "GraphModel.h"
#include "LiveReadout.h"
#include "RecordingMemory.h"
#include "StatusPacket.h"
#include "base/EventWait.h"
#include "base/NumberText.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "link/Communication_Unit.h"
#include "link/SerialPort.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {
// Marker names of a drawn capture, by state.
constexpr const char* kCheckDrawNames[8] = {"Idle",      "AutoTare", "Triged", "Retriged",
                                            "Measuring", "",         "",       ""};
constexpr const char* kDoseDrawNames[8] = {"Idle",        "Zero",      "Tare",     "Pre fill",
                                           "Coarse fill", "Fine dose", "Inflight", "Calculate dosed"};
constexpr int kWaitForTriggerMs[] = {10000, 20000, 30000, 40000, 50000, 60000, 0};
constexpr int kUseEvery[] = {1, 10, 100, 1000, 10000, 100000};

bool isOneOf(int identity, std::initializer_list<int> list) {
    return std::find(list.begin(), list.end(), identity) != list.end();
}

int percent(double part, double whole) {
    return whole > 0 ? static_cast<int>(std::lround(part / whole * 100)) : 100;
}
} // namespace

const QStringList& Acquisition::waitForTriggerTexts() {
    static const QStringList texts{"10 sec.", "20 sec.", "30 sec.", "40 sec.",
                                   "50 sec.", "60 sec.", "Infinite"};
    return texts;
}

const QStringList& Acquisition::useEveryTexts() {
    static const QStringList texts{"1", "10", "100", "1000", "10000", "100000"};
    return texts;
}

Acquisition::Acquisition(Communication_Unit& comm, Operator& op, LiveReadout& readout,
                         RecordingMemory& memory, GraphModel& graph, MeasureHooks hooks, QObject* parent)
    : QObject(parent), comm_(comm), op_(op), readout_(readout), memory_(memory), graph_(graph),
      hooks_(std::move(hooks)) {
    realTime_.setThreadPriority(QThread::TimeCriticalPriority);
    realTime_.setInterval(TimeScale::ms(stepInterval_));
    realTime_.OnTimer = [this] { RealTimeTimer(); };
    liveDraw_.setInterval(TimeScale::ms(100));
    connect(&liveDraw_, &QTimer::timeout, this, &Acquisition::LiveDrawRefreshTimerTimer);
    waitForTriggerTimer_.setSingleShot(true);
    connect(&waitForTriggerTimer_, &QTimer::timeout, this, &Acquisition::WaitForTriggerTimerTimer);
    ga_.setSingleShot(true);
    ga_.setInterval(TimeScale::ms(100));
    connect(&ga_, &QTimer::timeout, this, &Acquisition::averageReadDue);
    gd_.setSingleShot(true);
    gd_.setInterval(TimeScale::ms(2000));
    connect(&gd_, &QTimer::timeout, this, &Acquisition::dosedReadDue);
    // Runs from program start; it repaints only while RUN is down.
    liveDraw_.start();
}

Acquisition::~Acquisition() = default;

double Acquisition::nowMs() {
    return static_cast<double>(monotonicMs()) / TimeScale::factor();
}

// ---- Display page -------------------------------------------------------------------------------

void Acquisition::TabSheet1Show() {
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(false);
    op_.showInfoMessage(QString());
    readout_.setText(QString());
    PacketMatcher& stream = comm_.dpGross();
    stream.setEnabled(true);
    stream.setAutoEnable(true);
    if (hooks_.canProcessChannel)
        hooks_.canProcessChannel(true);
    if (hooks_.anySerialPort && !hooks_.anySerialPort()) {
        if (hooks_.noSerialPort)
            hooks_.noSerialPort();
        return;
    }
    stream.disarm();
    stream.setStartString(readout_.streamStart());
    stream.setEndString("\r");
    stream.setEndConditions(PacketMatcher::EndString);
    stream.setIncludeStrings(false);
    stream.arm();
    // With "SN" selected this simply runs into its time limit; the stream itself goes to dpGross.
    comm_.SendAndReceive(comm_.port().portNumber(), readout_.streamCommand(), 100,
                         Framing::startingWith("G"));
    waitMs(500, false);
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(true);
}

void Acquisition::TabSheet1Hide() {
    if (hooks_.closeAverageLog)
        hooks_.closeAverageLog();
    runPanelEnabled_ = true;
    logDosingEnabled_ = true;
    runDown_ = false;
    Stop();
    if (hooks_.canProcessChannel)
        hooks_.canProcessChannel(false);
}

void Acquisition::StartAutotransmitClick() {
    if (buttonGroupLocked_)
        return; // it would take the recording's stream
    if (!FullDuplexCheck::run(comm_, op_, FullDuplexCheck::Caller::Autotransmit))
        return;
    comm_.SendAndReceive(comm_.port().portNumber(), readout_.streamCommand(), 100,
                         Framing::startingWith(readout_.streamStart()));
}

void Acquisition::setAutotransmit(const QString& selection) {
    if (selection == readout_.autotransmit())
        return;
    readout_.restoreAutotransmit(selection); // the caption follows the selection
    comm_.dpGross().setStartString(readout_.streamStart());
    comm_.writeRaw("\r");
    comm_.writeRaw(readout_.streamCommand());
    waitMs(300);
}

// ---- Run panel --------------------------------------------------------------------------------

void Acquisition::RUNClick() {
    runDown_ = true;
    pauseDown_ = false;
    emit changed();
    if (!runDown_)
        return;
    if (!FullDuplexCheck::run(comm_, op_, FullDuplexCheck::Caller::Run))
        return;
    if (hooks_.FindDevice)
        hooks_.FindDevice();
    const int identity = hooks_.deviceIdentity ? hooks_.deviceIdentity() : 0;
    if (identity == 0)
        return;
    const int port = comm_.port().portNumber();
    if (useStatus_ && isOneOf(identity, {4113, 4114, 5114, 5115})) {
        if (identity == 4114 || identity == 5114) {
            if (comm_.SendAndReceive(port, "SC\r", 500, Framing::startingWith("O")) != "K") {
                op_.showInfoMessage(QString::fromLatin1(kCannotStartCycle));
                waitForTriggerTimer_.stop();
                return;
            }
        } else if (identity == 5115) {
            if (comm_.SendAndReceive(port, "LC16\r", 500, Framing::startingWith("O")) != "K") {
                op_.showInfoMessage(QString::fromLatin1(kCannotStartLoss));
                return;
            }
            const QByteArray reply = comm_.SendAndReceive(port, "PL1\r", 500, Framing::startingWith("P1:+"));
            if (reply == kTimeOutErr) {
                op_.showInfoMessage(QString::fromLatin1(kCannotStartLossTimeout));
                return;
            }
            const auto p = parseInteger(reply);
            lossDecimals_ = p ? static_cast<int>(*p) : -1;
        }
    }
    // The scope follows the recording; its window starts at 10 s.
    graph_.setLocked(true);
    toolBarLocked_ = true;
    buttonGroupLocked_ = true;
    graph_.clearSeries(selectedSlot_);
    graph_.clearLiveTrace();
    graph_.clearMarkers();
    runClock_ = 0;
    lastValue_ = 0;
    graph_.setTimeWindow(0, 10000);
    graph_.repaint();
    startTime_ = nowMs();
    memory_.slot(1).recorded = true;
    GraphSlot& recording = memory_.slot(selectedSlot_);
    recording.kind = RecordingKind::Run;
    recording.grossField = readout_.grossSelected();
    recording.elapsed = 0;
    liveDraw_.start();
    stepInterval_ = 1000;
    realTime_.setInterval(TimeScale::ms(stepInterval_));
    realTime_.setEnabled(true);
    packetCounter_ = 1;
    stepTime_ = 0;
    previousState_ = 0;
    setState(State::Arming);
    PacketMatcher& stream = comm_.dpGross();
    stream.setEnabled(false);
    if (isOneOf(identity, {4113, 4114, 5113, 5114, 5115})) {
        stream.setStartString("P");
        comm_.writeRaw("GP-1\r");
    } else {
        stream.setStartString(readout_.streamStart());
        comm_.writeRaw(readout_.streamCommand());
    }
    enableStream();
    emit changed();
}

void Acquisition::enableStream() {
    // dpGross always frames up to "\r" and re-arms itself after every packet.
    PacketMatcher& stream = comm_.dpGross();
    stream.setEndString("\r");
    stream.setEndConditions(PacketMatcher::EndString);
    stream.setIncludeStrings(false);
    stream.setAutoEnable(true);
    stream.setEnabled(true);
    if (!stream.isArmed())
        stream.arm();
}

void Acquisition::STOPClick() {
    runDown_ = false;
    Stop();
}

void Acquisition::Stop() {
    setLamp(Lamp::Green);
    liveDraw_.stop();
    realTime_.setEnabled(false);
    pauseDown_ = false;
    graph_.setLocked(false);
    toolBarLocked_ = false;
    buttonGroupLocked_ = false;
    comm_.writeRaw("SG\r");
    sampleIndex_ = 0;
    emit changed();
}

void Acquisition::PAUSEClick(bool down) {
    pauseDown_ = down;
    if (down) {
        realTime_.setEnabled(false);
        toolBarLocked_ = false;
        buttonGroupLocked_ = false;
    } else {
        realTime_.setEnabled(true);
        if (runDown_) {
            toolBarLocked_ = true;
            buttonGroupLocked_ = true;
        }
    }
    emit changed();
}

void Acquisition::TRIGGERClick(bool down) {
    triggerDown_ = down;
    if (!down) {
        // Releasing TRIGGER abandons an armed or running capture instead of arming again.
        waitForTriggerTimer_.stop();
        setState(State::Stopped);
        progress_ = 0;
        buttonGroupLocked_ = false;
        setLamp(Lamp::Green);
        emit changed();
        return;
    }
    triggerSequence(true);
}

void Acquisition::triggerSequence(bool first) {
    graph_.clearLiveTrace();
    graph_.clearMarkers();
    const int port = comm_.port().portNumber();
    if (first) {
        runDown_ = false;
        Stop();
        comm_.dpGross().setEnabled(false);
        comm_.SendAndReceive(port, "ID\r", 1000, Framing::startingWith("D:"));
        waitMs(100);
        if (hooks_.openTriggerLogs)
            hooks_.openTriggerLogs();
    }
    if (!IsValidNumber(triggerLevel_, 0, 99999) || !IsValidNumber(sampleTimeText_, 0, 200000)) {
        op_.showMessage(QString::fromLatin1(kOutOfRange));
        return;
    }
    if (first && !FullDuplexCheck::run(comm_, op_, FullDuplexCheck::Caller::Trigger)) {
        enableStream();
        return;
    }
    op_.showInfoMessage(QString());
    buttonGroupLocked_ = true;
    captureCount_ = 0;
    sampleTime_ = sampleTimeText_.toInt();
    elapsed_ = 0;
    previousState_ = 0;
    setState(State::Arming);
    emit changed();
    const int waitMsDevice = kWaitForTriggerMs[waitForTrigger_];
    if (waitMsDevice > 0)
        waitForTriggerTimer_.start(TimeScale::ms(waitMsDevice));
    int identity = hooks_.deviceIdentity ? hooks_.deviceIdentity() : 0;
    if (identity == 0) {
        if (hooks_.FindDevice)
            hooks_.FindDevice();
        identity = hooks_.deviceIdentity ? hooks_.deviceIdentity() : 0;
        if (identity == 0)
            return; // the wait-for-trigger timer ends the attempt
    }
    PacketMatcher& stream = comm_.dpGross();
    if (useStatus_ && isOneOf(identity, {4113, 4114, 5113, 5114, 6110})) {
        if ((identity == 4114 || identity == 5114) &&
            comm_.SendAndReceive(port, "SC\r", 500, Framing::startingWith("O")) != "K") {
            op_.showInfoMessage(QString::fromLatin1(kCannotStartCycle));
            waitForTriggerTimer_.stop();
            enableStream();
            return;
        }
        stream.setEnabled(false);
        stream.setStartString("P");
        comm_.writeRaw("GP-1\r");
    } else {
        stream.setEnabled(false);
        stream.setStartString(readout_.streamStart());
        if (comm_.link() == Link::Can) {
            waitMs(500);
            comm_.SendAndReceive(port, "DR1560\r", 100, Framing::startingWith("D"));
        }
        comm_.SendAndReceive(port, readout_.streamCommand(), 100, Framing::startingWith("G"));
    }
    enableStream();
}

// ---- Sample options ---------------------------------------------------------------------------

void Acquisition::triggerLevelEdited(const QString& text) {
    triggerLevel_ = text;
    op_.showInfoLine(Page::Options, QString());
    if (!IsValidNumber(text, 0, 99999))
        op_.showInfoLine(Page::Options, QString::fromLatin1(kTriggerLevelRange));
}

void Acquisition::sampleTimeEdited(const QString& text) {
    sampleTimeText_ = text;
    op_.showInfoLine(Page::Options, QString());
    if (IsValidNumber(text, 0, 200000))
        sampleTime_ = text.toInt();
    else
        op_.showInfoLine(Page::Options, QString::fromLatin1(kSampleTimeRange));
}

void Acquisition::restoreSampleOptions(const QString& triggerLevel, const QString& sampleTime) {
    triggerLevel_ = triggerLevel;
    sampleTimeText_ = sampleTime;
    if (IsValidNumber(sampleTime, 0, 200000))
        sampleTime_ = sampleTime.toInt();
}

void Acquisition::setWaitForTrigger(int index) {
    if (index >= 0 && index < static_cast<int>(std::size(kWaitForTriggerMs)))
        waitForTrigger_ = index;
}

void Acquisition::setUseEvery(int index) {
    if (index >= 0 && index < static_cast<int>(std::size(kUseEvery)))
        useEvery_ = index;
}

int Acquisition::useEveryValue() const {
    return kUseEvery[useEvery_];
}

void Acquisition::setSelectedSlot(int slot) {
    if (slot >= 1 && slot <= kGraphSlots)
        selectedSlot_ = slot;
}

void Acquisition::setLiveDrawInterval(int ms) {
    liveDraw_.setInterval(TimeScale::ms(std::clamp(ms, 10, 400)));
}

// ---- Timers -----------------------------------------------------------------------------------

QString Acquisition::stepTimeLabel() const {
    // Three decimals, at most five significant digits.
    const double magnitude = std::fabs(stepTime_);
    int decimals = 3;
    if (magnitude >= 100000)
        decimals = 0;
    else if (magnitude >= 10000)
        decimals = 0;
    else if (magnitude >= 1000)
        decimals = 1;
    else if (magnitude >= 100)
        decimals = 2;
    return QStringLiteral("StepTime: ") + QString::number(stepTime_, 'f', decimals) + QStringLiteral("ms");
}

void Acquisition::RealTimeTimer() {
    // A second without packets keeps the last step time: there is nothing to divide by.
    if (packetCounter_ > 0)
        stepTime_ = static_cast<double>(stepInterval_) / packetCounter_;
    packetCounter_ = 0;
    const int next =
        std::clamp(stepTime_ > 100 ? static_cast<int>(std::lround(stepTime_ * 10)) : 1000, 100, 10000);
    if (next != stepInterval_) {
        stepInterval_ = next;
        realTime_.setInterval(TimeScale::ms(next));
    }
    emit changed();
}

void Acquisition::LiveDrawRefreshTimerTimer() {
    if (runDown_) {
        graph_.followLiveTrace();
        graph_.repaint();
    }
}

void Acquisition::WaitForTriggerTimerTimer() {
    waitForTriggerTimer_.stop();
    setState(State::Stopped);
    triggerDown_ = false;
    const QString text = QString::fromLatin1(kTriggerTimeout) + waitForTriggerTexts().at(waitForTrigger_);
    op_.showInfoMessage(text);
    op_.showMessage(text);
    setLamp(Lamp::Green);
    progress_ = 0;
    buttonGroupLocked_ = false;
    runPanelEnabled_ = true;
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(true);
    emit changed();
}

void Acquisition::setLamp(Lamp lamp) {
    if (lamp_ == lamp)
        return;
    lamp_ = lamp;
    emit lampChanged(lamp);
}

void Acquisition::stepTimerStartIfIdle() {
    if (runDown_ && !realTime_.Enabled())
        realTime_.setEnabled(true);
}

// ---- Packet side ------------------------------------------------------------------------------

bool Acquisition::runRecording(double value) {
    if (sampleIndex_ >= kMaxSamples) {
        capacityReached();
        return false;
    }
    ++packetCounter_;
    runClock_ += stepTime_;
    const int i = ++sampleIndex_;
    GraphSlot& slot = memory_.slot(selectedSlot_);
    SampleRecord& r = slot.records[i];
    if (readout_.grossSelected())
        r.gross = static_cast<float>(value);
    else
        r.net = static_cast<float>(value);
    r.time = static_cast<float>(runClock_);
    if (slot.values)
        slot.values[i] = static_cast<float>(value);
    slot.records[1].count = static_cast<float>(i);
    slot.count = i;
    slot.recorded = true;
    lastValue_ = value;
    setLamp(Lamp::Red);
    graph_.addLivePoint(runClock_, value);
    return true;
}

void Acquisition::capacityReached() {
    // Nothing is written past the buffers: the recording ends as if STOP had been pressed.
    const int samples = sampleIndex_;
    runDown_ = false;
    Stop();
    sampleIndex_ = samples; // the label keeps what was recorded
    op_.showInfoLine(Page::Display, QString::fromLatin1(kCapacityReached));
    emit changed();
}

void Acquisition::asciiTrigger(double v) {
    const double level = triggerLevel_.toDouble();
    if (state_ == State::Arming) {
        reference_ = v;
        setState(State::WaitingForTrigger);
        return;
    }
    if (state_ == State::WaitingForTrigger) {
        setLamp(Lamp::Yellow);
        if (!(v > reference_ + level || v < reference_ - level))
            return;
        waitForTriggerTimer_.stop();
        setLamp(Lamp::Red);
        startTime_ = nowMs();
        setState(State::Capturing);
    }
    if (state_ != State::Capturing)
        return;
    if (elapsed_ <= sampleTime_ && captureCount_ < kMaxSamples) {
        memory_.captureValues()[++captureCount_] = static_cast<float>(v);
        elapsed_ = nowMs() - startTime_;
        progress_ = percent(captureCount_, sampleTime_);
        return;
    }
    if (captureCount_ >= kMaxSamples)
        op_.showInfoLine(Page::Display, QString::fromLatin1(kCapacityReached));
    elapsed_ = sampleTime_;
    setState(retrig_ ? State::DoneRearm : State::Done);
    DrawGraphData();
    afterDrawing();
}

void Acquisition::packetTrigger(const StatusPacket& p, bool dosing) {
    if (state_ == State::Arming) {
        setLamp(Lamp::Yellow);
        if (p.state != 0 && previousState_ == 0) {
            graph_.clearMarkers();
            setLamp(Lamp::Red);
            setState(State::Capturing);
            startTime_ = nowMs();
            sampleIndex_ = captureCount_;
        }
    }
    if (state_ == State::Capturing) {
        waitForTriggerTimer_.stop();
        elapsed_ = nowMs() - startTime_;
        if (elapsed_ > sampleTime_ || p.state == 0 || sampleIndex_ >= kMaxSamples) {
            if (sampleIndex_ >= kMaxSamples)
                op_.showInfoLine(Page::Display, QString::fromLatin1(kCapacityReached));
            endPacketCapture(dosing);
        } else {
            const int i = ++sampleIndex_;
            SampleRecord& r = memory_.capture()[i];
            r = SampleRecord{};
            r.time = static_cast<float>(elapsed_);
            r.state = i == 1 ? 0 : p.state;
            if (dosing) {
                r.noMotion = p.noMotion;
                r.overRange = p.overRange;
                r.underRange = p.underRange;
                r.dosingState[p.state] = true;
            } else if (p.state < 5) {
                r.checkState[p.state] = true;
            }
            r.gross = static_cast<float>(p.gross);
            r.net = static_cast<float>(p.net);
            elapsed_ = nowMs() - startTime_;
            progress_ = percent(i, sampleTime_);
        }
    }
    previousState_ = p.state;
}

void Acquisition::endPacketCapture(bool dosing) {
    if (elapsed_ >= sampleTime_) {
        const QString text = QString::fromLatin1(kSampleTimeExpired);
        op_.showInfoMessage(text);
        op_.showMessage(text);
    }
    const int n = sampleIndex_;
    const double e = elapsed_;
    GraphSlot& slot = memory_.slot(selectedSlot_);
    const SampleRecord* capture = memory_.capture();
    const bool gross = readout_.grossSelected();
    for (int i = 1; i <= n; ++i) {
        SampleRecord& r = slot.records[i];
        if (!dosing) {
            r = capture[i];
            r.time = static_cast<float>(e / n * i - 1);
        } else if (selectedSlot_ == 1) {
            r = capture[i];
        } else {
            r.net = capture[i].net;
            // Kept so the slot can be drawn again with its state markers.
            r.state = capture[i].state;
        }
        r.count = static_cast<float>(n);
        if (slot.values)
            slot.values[i] = gross ? capture[i].gross : capture[i].net;
    }
    slot.recorded = true;
    slot.count = n;
    slot.kind = dosing ? RecordingKind::DosingCapture : RecordingKind::CheckWeigherCapture;
    slot.grossField = gross;
    slot.elapsed = e;
    setState(retrig_ ? State::DoneRearm : State::Done);
    if (dosing)
        DrawDoseData();
    else
        DrawCheckData();
    afterDrawing();
}

void Acquisition::afterDrawing() {
    if (state_ == State::DoneRearm) {
        setState(State::Arming);
        // Arming again talks to the device; not from inside the packet that ended the capture.
        QTimer::singleShot(0, this, [this] {
            if (triggerDown_ && state_ == State::Arming)
                triggerSequence(false);
        });
    } else {
        triggerDown_ = false;
        buttonGroupLocked_ = false;
    }
    emit changed();
}

// ---- Drawing ----------------------------------------------------------------------------------

void Acquisition::lockForDrawing() {
    runPanelEnabled_ = false;
    buttonGroupLocked_ = true;
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(false);
}

void Acquisition::unlockAfterDrawing() {
    graph_.repaint();
    progress_ = 0;
    runPanelEnabled_ = true;
    buttonGroupLocked_ = false;
    setLamp(Lamp::Green);
    if (hooks_.setPageControlEnabled)
        hooks_.setPageControlEnabled(true);
    emit changed();
}

void Acquisition::DrawGraphData() {
    lockForDrawing();
    const int n = captureCount_;
    const float* v = memory_.captureValues();
    GraphSlot& slot = memory_.slot(selectedSlot_);
    const bool gross = readout_.grossSelected();
    for (int i = 1; i <= n; ++i) {
        SampleRecord& r = slot.records[i];
        r.count = static_cast<float>(n);
        (gross ? r.gross : r.net) = v[i];
        // One millisecond less than i steps.
        r.time = static_cast<float>(static_cast<double>(sampleTime_) / n * i - 1);
        if (slot.values)
            slot.values[i] = v[i];
    }
    slot.recorded = true;
    slot.count = n;
    slot.kind = RecordingKind::ValueCapture;
    slot.grossField = gross;
    slot.elapsed = elapsed_;
    plotSlot(selectedSlot_);
    unlockAfterDrawing();
}

void Acquisition::DrawCheckData() {
    lockForDrawing();
    GraphSlot& slot = memory_.slot(selectedSlot_);
    slot.meanStep = slot.count > 0 ? slot.elapsed / slot.count : 0;
    plotSlot(selectedSlot_);
    unlockAfterDrawing();
    ga_.start();
}

void Acquisition::DrawDoseData() {
    lockForDrawing();
    GraphSlot& slot = memory_.slot(selectedSlot_);
    slot.meanStep = slot.count > 0 ? slot.elapsed / slot.count : 0;
    plotSlot(selectedSlot_);
    unlockAfterDrawing();
    gd_.start();
}

void Acquisition::redrawSelectedSlot() {
    if (buttonGroupLocked_ || toolBarLocked_)
        return; // a recording is writing into the slots
    switch (memory_.slot(selectedSlot_).kind) {
    case RecordingKind::CheckWeigherCapture:
        DrawCheckData();
        break;
    case RecordingKind::DosingCapture:
        DrawDoseData();
        break;
    case RecordingKind::ValueCapture:
    case RecordingKind::Run:
        lockForDrawing();
        plotSlot(selectedSlot_);
        unlockAfterDrawing();
        break;
    }
}

void Acquisition::plotSlot(int number) {
    const GraphSlot& slot = memory_.slot(number);
    const SampleRecord* r = slot.records;
    const int n = std::clamp(slot.count, 0, kMaxSamples);
    auto value = [&](int k) -> double {
        if (slot.values)
            return slot.values[k];
        return slot.grossField ? r[k].gross : r[k].net;
    };
    lastDrawKind_ = slot.kind == RecordingKind::CheckWeigherCapture ? DrawKind::CheckWeigher
                    : slot.kind == RecordingKind::DosingCapture     ? DrawKind::Dosing
                                                                    : DrawKind::Values;
    // A value capture draws from its second value on; everything else from the first.
    const int first = slot.kind == RecordingKind::ValueCapture ? 2 : 1;
    double vmin = n > 0 ? value(std::min(first, n)) : 0, vmax = vmin;
    for (int k = first; k <= n; ++k) {
        vmin = std::min(vmin, value(k));
        vmax = std::max(vmax, value(k));
    }
    double elapsed = slot.elapsed;
    if (slot.kind != RecordingKind::Run) {
        graph_.scaleToCapture(vmin, vmax, elapsed);
    } else {
        // A RUN spans the time of its last sample; before the first step-time tick that is 0.
        elapsed = n > 0 ? r[n].time : 0;
        if (elapsed > 0)
            graph_.scaleToCapture(vmin, vmax, elapsed);
        else
            graph_.setTimeWindow(0, 10000);
        if (vmax == vmin) // a steady weight still gets a window around it
            graph_.setValueWindow(vmin - 1, vmax + 1);
    }
    graph_.clearSeries(number);
    const double s = n > 0 ? elapsed / n : 0;
    const char* const* names = slot.kind == RecordingKind::DosingCapture ? kDoseDrawNames : kCheckDrawNames;
    const bool markers =
        slot.kind == RecordingKind::CheckWeigherCapture || slot.kind == RecordingKind::DosingCapture;
    double t = 0;
    for (int k = first; k <= n; ++k) {
        progress_ = percent(k, n);
        switch (slot.kind) {
        case RecordingKind::Run:
            t = r[k].time;
            break;
        case RecordingKind::ValueCapture:
            t = (k - 1) * s;
            break;
        case RecordingKind::CheckWeigherCapture:
        case RecordingKind::DosingCapture:
            t += s;
            break;
        }
        graph_.addSeriesPoint(number, t, value(k));
        if (markers && k < n && r[k + 1].state != r[k].state)
            graph_.addMarker(QString::fromLatin1(names[r[k + 1].state & 7]), t);
    }
}

} // namespace tarvo
