#include "Acquisition.h"

#include "FullDuplexCheck.h"
#include "GraphModel.h"
#include "LiveReadout.h"
#include "RecordingMemory.h"
#include "SlotDrawing.h"
#include "StatusPacket.h"
#include "base/EventWait.h"
#include "base/NumberText.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {
bool isOneOf(int identity, std::initializer_list<int> list) {
    return std::find(list.begin(), list.end(), identity) != list.end();
}

int percent(double part, double whole) {
    return whole > 0 ? static_cast<int>(std::lround(part / whole * 100)) : 100;
}
} // namespace

Acquisition::Acquisition(CommandLink& comm, Operator& op, LiveReadout& readout, RecordingMemory& memory,
                         GraphModel& graph, MeasureHooks hooks, QObject* parent)
    : QObject(parent), link_(comm), op_(op), readout_(readout), memory_(memory), graph_(graph),
      hooks_(std::move(hooks)), options_(op) {
    stepTimer_.setThreadPriority(QThread::TimeCriticalPriority);
    stepTimer_.setInterval(TimeScale::ms(stepInterval_));
    stepTimer_.onTick = [this] { stepTimeTick(); };
    liveDrawTimer_.setInterval(TimeScale::ms(100));
    connect(&liveDrawTimer_, &QTimer::timeout, this, &Acquisition::liveDrawTick);
    waitForTriggerTimer_.setSingleShot(true);
    connect(&waitForTriggerTimer_, &QTimer::timeout, this, &Acquisition::waitForTriggerExpired);
    averageRead_.setSingleShot(true);
    averageRead_.setInterval(TimeScale::ms(100));
    connect(&averageRead_, &QTimer::timeout, this, &Acquisition::averageReadDue);
    dosedRead_.setSingleShot(true);
    dosedRead_.setInterval(TimeScale::ms(2000));
    connect(&dosedRead_, &QTimer::timeout, this, &Acquisition::dosedReadDue);
    // Runs from program start; it repaints only while RUN is down.
    liveDrawTimer_.start();
}

Acquisition::~Acquisition() = default;

double Acquisition::nowMs() {
    return static_cast<double>(monotonicMs()) / TimeScale::factor();
}

// ---- Run panel --------------------------------------------------------------------------------

void Acquisition::runClicked() {
    runDown_ = true;
    // Nothing is recorded until the stream has been started for this recording: the checks below run
    // the event loop while the device still sends whatever it sent before.
    runArmed_ = false;
    pauseDown_ = false;
    emit changed();
    if (!runDown_)
        return;
    // Each step below waits for the device while the window stays live: STOP, or a page change that
    // stops, ends the start there, and no stream is started after STOP's "SG".
    if (!FullDuplexCheck::run(link_, op_, FullDuplexCheck::Caller::Run) || !runDown_)
        return;
    if (hooks_.findDevice)
        hooks_.findDevice();
    const int identity = hooks_.deviceIdentity ? hooks_.deviceIdentity() : 0;
    if (identity == 0 || !runDown_)
        return;
    const int port = link_.port().portNumber();
    if (options_.useStatusInformation() && isOneOf(identity, {4113, 4114, 5114, 5115})) {
        if (identity == 4114 || identity == 5114) {
            if (link_.sendAndReceive(port, "SC\r", 500, Framing::startingWith("O")) != "K") {
                op_.showInfoMessage(QString::fromLatin1(kCannotStartCycle));
                waitForTriggerTimer_.stop();
                return;
            }
        } else if (identity == 5115) {
            if (link_.sendAndReceive(port, "LC16\r", 500, Framing::startingWith("O")) != "K") {
                op_.showInfoMessage(QString::fromLatin1(kCannotStartLoss));
                return;
            }
            const QByteArray reply = link_.sendAndReceive(port, "PL1\r", 500, Framing::startingWith("P1:+"));
            if (reply == kTimeOutErr) {
                op_.showInfoMessage(QString::fromLatin1(kCannotStartLossTimeout));
                return;
            }
            const auto p = parseInteger(reply);
            lossDecimals_ = p ? static_cast<int>(*p) : -1;
        }
        if (!runDown_)
            return;
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
    sampleIndex_ = 0;
    graph_.setTimeWindow(0, 10000);
    graph_.repaint();
    startTime_ = nowMs();
    memory_.slot(1).recorded = true;
    GraphSlot& recording = memory_.slot(selectedSlot_);
    recording.kind = RecordingKind::Run;
    recording.grossField = readout_.grossSelected();
    recording.elapsed = 0;
    liveDrawTimer_.start();
    stepInterval_ = 1000;
    stepTimer_.setInterval(TimeScale::ms(stepInterval_));
    stepTimer_.setEnabled(true);
    packetCounter_ = 1;
    stepTime_ = 0;
    previousState_ = 0;
    setState(State::Arming);
    PacketMatcher& stream = link_.streamMatcher();
    stream.setEnabled(false);
    if (isOneOf(identity, {4113, 4114, 5113, 5114, 5115})) {
        stream.setStartString("P");
        link_.writeRaw("GP-1\r");
    } else {
        stream.setStartString(readout_.streamStart());
        link_.writeRaw(readout_.streamCommand());
    }
    // A line half framed under the old start string must not become this recording's first sample.
    stream.disarm();
    stream.arm();
    enableStream();
    runArmed_ = runDown_;
    emit changed();
}

void Acquisition::enableStream() {
    // streamMatcher always frames up to "\r" and re-arms itself after every packet.
    PacketMatcher& stream = link_.streamMatcher();
    stream.setEndString("\r");
    stream.setEndConditions(PacketMatcher::EndString);
    stream.setIncludeStrings(false);
    stream.setAutoEnable(true);
    stream.setEnabled(true);
    if (!stream.isArmed())
        stream.arm();
}

void Acquisition::stopClicked() {
    runDown_ = false;
    stop();
    // "SG" has started the gross stream: the matcher frames what the device now sends. A net readout
    // cannot follow it and says so rather than keep showing the last weight as if it were live.
    link_.streamMatcher().setStartString("G");
    if (!readout_.grossSelected())
        readout_.showWord(LiveReadout::kNoInput);
}

void Acquisition::deviceFound() {
    if (lamp_ == Lamp::RedBlink && !runDown_ && !triggerDown_)
        setLamp(Lamp::Green);
}

void Acquisition::linkLost() {
    // The recording ends as STOP ends it and keeps what it has; the lamp shows the fault and the readout
    // that nothing comes in any more.
    if (triggerDown_)
        triggerClicked(false);
    // Nothing is sent: the link is gone, and a bus would be opened again for the "SG".
    runDown_ = false;
    stop(false);
    setLamp(Lamp::RedBlink);
    readout_.showWord(LiveReadout::kNoInput);
}

void Acquisition::displayPageLeft() {
    runPanelEnabled_ = true;
    logDosingEnabled_ = true;
    stopClicked();
}

void Acquisition::stop(bool tellDevice) {
    runArmed_ = false;
    setLamp(Lamp::Green);
    liveDrawTimer_.stop();
    stepTimer_.setEnabled(false);
    pauseDown_ = false;
    graph_.setLocked(false);
    toolBarLocked_ = false;
    buttonGroupLocked_ = false;
    if (tellDevice)
        link_.writeRaw("SG\r");
    sampleIndex_ = 0;
    emit changed();
}

void Acquisition::pauseClicked(bool down) {
    pauseDown_ = down;
    if (down) {
        stepTimer_.setEnabled(false);
        toolBarLocked_ = false;
        buttonGroupLocked_ = false;
    } else {
        stepTimer_.setEnabled(true);
        if (runDown_) {
            toolBarLocked_ = true;
            buttonGroupLocked_ = true;
        }
    }
    emit changed();
}

void Acquisition::triggerClicked(bool down) {
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
    const int port = link_.port().portNumber();
    if (first) {
        runDown_ = false;
        stop();
        link_.streamMatcher().setEnabled(false);
        link_.sendAndReceive(port, "ID\r", 1000, Framing::startingWith("D:"));
        waitMs(100);
        if (hooks_.openTriggerLogs)
            hooks_.openTriggerLogs();
    }
    if (!options_.triggerEntriesValid()) {
        op_.showMessage(QString::fromLatin1(SampleOptions::kOutOfRange));
        return;
    }
    // TRIGGER released while the device was asked ends the start, as STOP ends RUN's.
    if (first && (!FullDuplexCheck::run(link_, op_, FullDuplexCheck::Caller::Trigger) || !triggerDown_)) {
        enableStream();
        return;
    }
    op_.showInfoMessage(QString());
    buttonGroupLocked_ = true;
    captureCount_ = 0;
    options_.takeSampleTime();
    elapsed_ = 0;
    previousState_ = 0;
    setState(State::Arming);
    emit changed();
    const int waitMsDevice = options_.waitForTriggerMs();
    if (waitMsDevice > 0)
        waitForTriggerTimer_.start(TimeScale::ms(waitMsDevice));
    int identity = hooks_.deviceIdentity ? hooks_.deviceIdentity() : 0;
    if (identity == 0) {
        if (hooks_.findDevice)
            hooks_.findDevice();
        identity = hooks_.deviceIdentity ? hooks_.deviceIdentity() : 0;
        if (identity == 0)
            return; // the wait-for-trigger timer ends the attempt
        if (!triggerDown_) {
            enableStream();
            return;
        }
    }
    PacketMatcher& stream = link_.streamMatcher();
    if (options_.useStatusInformation() && isOneOf(identity, {4113, 4114, 5113, 5114, 6110})) {
        if ((identity == 4114 || identity == 5114) &&
            link_.sendAndReceive(port, "SC\r", 500, Framing::startingWith("O")) != "K") {
            op_.showInfoMessage(QString::fromLatin1(kCannotStartCycle));
            waitForTriggerTimer_.stop();
            enableStream();
            return;
        }
        stream.setEnabled(false);
        stream.setStartString("P");
        link_.writeRaw("GP-1\r");
    } else {
        stream.setEnabled(false);
        stream.setStartString(readout_.streamStart());
        if (link_.linkKind() == Link::Can) {
            waitMs(500);
            link_.sendAndReceive(port, "DR1560\r", 100, Framing::startingWith("D"));
        }
        link_.sendAndReceive(port, readout_.streamCommand(), 100, Framing::startingWith("G"));
    }
    // What the matcher held of a line of the earlier stream is no part of this capture.
    stream.disarm();
    stream.arm();
    enableStream();
}

// ---- Slots and refresh -------------------------------------------------------------------------

void Acquisition::setSelectedSlot(int slot) {
    if (slot >= 1 && slot <= kGraphSlots)
        selectedSlot_ = slot;
}

void Acquisition::setLiveDrawInterval(int ms) {
    liveDrawTimer_.setInterval(TimeScale::ms(std::clamp(ms, 10, 400)));
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

void Acquisition::stepTimeTick() {
    // A second without packets keeps the last step time: there is nothing to divide by.
    if (packetCounter_ > 0)
        stepTime_ = static_cast<double>(stepInterval_) / packetCounter_;
    packetCounter_ = 0;
    const int next =
        std::clamp(stepTime_ > 100 ? static_cast<int>(std::lround(stepTime_ * 10)) : 1000, 100, 10000);
    if (next != stepInterval_) {
        stepInterval_ = next;
        stepTimer_.setInterval(TimeScale::ms(next));
    }
    emit changed();
}

void Acquisition::liveDrawTick() {
    // Only a trace that grew is drawn again: between samples there is nothing new to show.
    if (!runDown_ || graph_.liveTrace().revision() == drawnLiveRevision_)
        return;
    drawnLiveRevision_ = graph_.liveTrace().revision();
    graph_.followLiveTrace();
    graph_.repaint();
}

void Acquisition::waitForTriggerExpired() {
    waitForTriggerTimer_.stop();
    setState(State::Stopped);
    triggerDown_ = false;
    const QString text = QString::fromLatin1(kTriggerTimeout) + options_.waitForTriggerText();
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

void Acquisition::changeLamp(Lamp lamp) {
    lamp_ = lamp;
    emit lampChanged(lamp);
}

// ---- Packet side ------------------------------------------------------------------------------

void Acquisition::packetNotRecorded() {
    if (stepTimer_.isEnabled())
        stepTimer_.setEnabled(false);
    setLamp(Lamp::Yellow);
}

void Acquisition::packetHandled() {
    // A RUN whose step-time timer an over-range packet or PAUSE stopped starts it again.
    if (runDown_ && !stepTimer_.isEnabled())
        stepTimer_.setEnabled(true);
}

SampleRecord* Acquisition::nextRunRecord(const StatusPacket& p) {
    setLamp(Lamp::Red);
    waitForTriggerTimer_.stop();
    const int i = sampleIndex_ + 1;
    if (i > kMaxSamples) {
        capacityReached();
        return nullptr;
    }
    SampleRecord& r = memory_.capture()[i];
    r = SampleRecord{};
    r.state = i == 1 ? 0 : p.state;
    r.gross = static_cast<float>(p.gross);
    return &r;
}

bool Acquisition::recordRunValue(double value) {
    if (sampleIndex_ >= kMaxSamples) {
        capacityReached();
        return false;
    }
    ++packetCounter_;
    runClock_ += stepTime_;
    const int i = ++sampleIndex_;
    GraphSlot& slot = memory_.slot(selectedSlot_);
    SampleRecord& r = slot.records[i];
    // Fields of an earlier recording into this slot must not show through.
    r = SampleRecord{};
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
    stop();
    sampleIndex_ = samples; // the label keeps what was recorded
    op_.showInfoLine(Page::Display, QString::fromLatin1(kCapacityReached));
    emit changed();
}

void Acquisition::triggerValue(double v) {
    const double level = options_.triggerLevel();
    const int sampleTime = options_.sampleTime();
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
    if (elapsed_ <= sampleTime && captureCount_ < kMaxSamples) {
        memory_.captureValues()[++captureCount_] = static_cast<float>(v);
        elapsed_ = nowMs() - startTime_;
        progress_ = percent(captureCount_, sampleTime);
        return;
    }
    if (captureCount_ >= kMaxSamples)
        op_.showInfoLine(Page::Display, QString::fromLatin1(kCapacityReached));
    elapsed_ = sampleTime;
    setState(options_.retrigAfterDraw() ? State::DoneRearm : State::Done);
    drawValueCapture();
    afterDrawing();
}

void Acquisition::triggerPacket(const StatusPacket& p, bool dosing) {
    const int sampleTime = options_.sampleTime();
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
        if (elapsed_ > sampleTime || p.state == 0 || sampleIndex_ >= kMaxSamples) {
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
            progress_ = percent(i, sampleTime);
        }
    }
    previousState_ = p.state;
}

void Acquisition::endPacketCapture(bool dosing) {
    if (elapsed_ >= options_.sampleTime()) {
        const QString text = QString::fromLatin1(kSampleTimeExpired);
        op_.showInfoMessage(text);
        op_.showMessage(text);
    }
    SlotDrawing::copyPacketCapture(memory_.capture(), sampleIndex_, elapsed_, dosing,
                                   readout_.grossSelected(), selectedSlot_ == 1, memory_.slot(selectedSlot_));
    setState(options_.retrigAfterDraw() ? State::DoneRearm : State::Done);
    if (dosing)
        drawDosingCapture();
    else
        drawCheckWeigherCapture();
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

void Acquisition::drawValueCapture() {
    lockForDrawing();
    SlotDrawing::copyValueCapture(memory_.captureValues(), captureCount_, options_.sampleTime(), elapsed_,
                                  readout_.grossSelected(), memory_.slot(selectedSlot_));
    plotSlot(selectedSlot_);
    unlockAfterDrawing();
}

void Acquisition::drawCheckWeigherCapture() {
    lockForDrawing();
    GraphSlot& slot = memory_.slot(selectedSlot_);
    slot.meanStep = slot.count > 0 ? slot.elapsed / slot.count : 0;
    plotSlot(selectedSlot_);
    unlockAfterDrawing();
    averageRead_.start();
}

void Acquisition::drawDosingCapture() {
    lockForDrawing();
    GraphSlot& slot = memory_.slot(selectedSlot_);
    slot.meanStep = slot.count > 0 ? slot.elapsed / slot.count : 0;
    plotSlot(selectedSlot_);
    unlockAfterDrawing();
    dosedRead_.start();
}

void Acquisition::redrawSelectedSlot() {
    if (buttonGroupLocked_ || toolBarLocked_)
        return; // a recording is writing into the slots
    switch (memory_.slot(selectedSlot_).kind) {
    case RecordingKind::CheckWeigherCapture:
        drawCheckWeigherCapture();
        break;
    case RecordingKind::DosingCapture:
        drawDosingCapture();
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
    lastDrawKind_ = slot.kind == RecordingKind::CheckWeigherCapture ? DrawKind::CheckWeigher
                    : slot.kind == RecordingKind::DosingCapture     ? DrawKind::Dosing
                                                                    : DrawKind::Values;
    SlotDrawing::plot(slot, number, graph_, progress_);
}

} // namespace tarvo
