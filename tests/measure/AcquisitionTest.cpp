#include "MeasureRig.h"
#include "measure/ScopeControls.h"

#include <gtest/gtest.h>

using namespace tarvo;
using tarvo::test::MeasureRig;
using tarvo::test::statusPacket;

namespace {

bool sent(const MeasureRig& rig, const QByteArray& text) {
    return rig.line.receivedTexts().contains(text);
}

} // namespace

TEST(FullDuplexCheckTest, AFullDuplexDeviceIsNeverAskedAndRunStartsItsStream) {
    MeasureRig rig;
    rig.acq->runClicked();
    EXPECT_TRUE(rig.op.events.filter("ask:").isEmpty());
    EXPECT_EQ(rig.line.receivedTexts(), (QList<QByteArray>{"DX\r", "SN\r"}));
    EXPECT_EQ(rig.findDeviceCalls, 1);
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Arming);
    EXPECT_TRUE(rig.graph.locked());
    EXPECT_EQ(rig.graph.right(), 10000);
    EXPECT_TRUE(rig.memory.slot(1).recorded);

    // The simulator's own value lines are recorded as they come.
    MeasureRig::pump(300);
    EXPECT_GT(rig.acq->sampleIndex(), 3);
    EXPECT_EQ(rig.acq->lamp(), Acquisition::Lamp::Red);

    rig.acq->stopClicked();
    EXPECT_TRUE(sent(rig, "SG\r"));
    EXPECT_EQ(rig.acq->sampleIndex(), 0);
    EXPECT_EQ(rig.acq->lamp(), Acquisition::Lamp::Green);
    EXPECT_FALSE(rig.acq->stepTimer().isEnabled());
    EXPECT_FALSE(rig.graph.locked());
}

TEST(FullDuplexCheckTest, AnsweringNoStillStartsAutotransmitAndYesSetsTheDeviceUp) {
    {
        MeasureRig rig(4110, false);
        rig.op.answers = {false};
        rig.display->startAutotransmitClicked();
        EXPECT_EQ(
            rig.op.events.filter("ask:"),
            QStringList{"ask: Device is not setup for full-duplex... Want to setup full-duplex? -> no"});
        EXPECT_EQ(rig.line.receivedTexts(), (QList<QByteArray>{"DX\r", "SN\r"}));
    }
    {
        MeasureRig rig(4110, false);
        rig.op.answers = {true};
        rig.display->startAutotransmitClicked();
        EXPECT_EQ(rig.line.receivedTexts(), (QList<QByteArray>{"DX\r", "DX1\r", "WP\r", "SN\r"}));
        EXPECT_TRUE(rig.device->fullDuplex());
    }
    {
        // A device that stops answering after "DX": each caller abandons with its own text.
        MeasureRig rig(4110, false);
        rig.op.answers = {true};
        rig.line.setFault(devsim::Line::Fault::Silent);
        rig.display->startAutotransmitClicked();
        EXPECT_EQ(rig.op.messageBoxes(),
                  QStringList{"Full-duplex setup NOT complete - Communikation error!"});
        EXPECT_EQ(rig.line.receivedTexts(), (QList<QByteArray>{"DX\r", "DX1\r"}));
    }
}

TEST(FullDuplexCheckTest, AFailedStoreAbandonsWithTheCallersText) {
    MeasureRig rig(4110, false);
    rig.op.answers = {true};
    // "DX1" is accepted, then the device goes silent before "WP".
    QObject::connect(&rig.line, &devsim::Line::toHost, &rig.line, [&rig](const QByteArray& bytes) {
        if (bytes.contains("OK"))
            rig.line.setFault(devsim::Line::Fault::Silent);
    });
    rig.acq->runClicked();
    EXPECT_EQ(rig.op.infoMessages().last(), "Device setup NOT complete - Communikation error!");
    EXPECT_TRUE(rig.op.messageBoxes().isEmpty());
    EXPECT_EQ(rig.findDeviceCalls, 0);
    EXPECT_FALSE(sent(rig, "SN\r"));
}

TEST(AcquisitionTest, RunDoesNothingMoreForIdentityZero) {
    MeasureRig rig;
    rig.identity = 0;
    rig.acq->runClicked();
    EXPECT_EQ(rig.findDeviceCalls, 1);
    EXPECT_EQ(rig.line.receivedTexts(), QList<QByteArray>{"DX\r"});
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Stopped);
}

TEST(AcquisitionTest, RunOnAStatusDeviceStartsPacketsAndStepTimeFollowsThePacketRate) {
    MeasureRig rig(4113);
    rig.acq->runClicked();
    EXPECT_TRUE(sent(rig, "GP-1\r"));
    EXPECT_EQ(rig.comm->streamMatcher().startString(), "P");
    rig.muteDevice();
    for (int i = 0; i < 3; ++i)
        rig.feed("P", statusPacket(0x00, 0x00, 0x01, 0x00));
    // Samples before the first tick sit at time 0.
    EXPECT_EQ(rig.memory.slot(1).records[3].time, 0.0f);
    rig.acq->stepTimeTick(); // four packets counted (RUN starts the counter at 1)
    EXPECT_DOUBLE_EQ(rig.acq->stepTime(), 250.0);
    EXPECT_EQ(rig.acq->stepTimeLabel(), "StepTime: 250.00ms");
    EXPECT_EQ(rig.acq->stepTimer().interval(), TimeScale::ms(2500));
    // A tick that saw no packet keeps the step time.
    rig.acq->stepTimeTick();
    EXPECT_DOUBLE_EQ(rig.acq->stepTime(), 250.0);
    rig.feed("P", statusPacket(0x00, 0x00, 0x01, 0x00));
    EXPECT_EQ(rig.memory.slot(1).records[4].time, 250.0f);
    EXPECT_EQ(rig.memory.slot(1).records[1].count, 4.0f);
    EXPECT_EQ(rig.acq->sampleLabel(), "SampleNr: 4");
    // "Clear all graph's" during the run starts the time axis again.
    ScopeControls controls(rig.graph, rig.memory, *rig.acq, rig.op);
    controls.clearAllClicked();
    EXPECT_EQ(rig.acq->runClock(), 0.0);
    rig.feed("P", statusPacket(0x00, 0x00, 0x01, 0x00));
    EXPECT_EQ(rig.memory.slot(1).records[5].time, 250.0f);
}

TEST(AcquisitionTest, TriggerThatNeverLeavesTheBandTimesOut) {
    MeasureRig rig;
    rig.device->setWeight(10.0);
    rig.acq->triggerClicked(true);
    EXPECT_TRUE(sent(rig, "ID\r"));
    EXPECT_TRUE(sent(rig, "SN\r"));
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Arming);
    ASSERT_TRUE(rig.acq->waitForTriggerTimer().isActive());
    MeasureRig::pump(300);
    EXPECT_EQ(rig.acq->state(), Acquisition::State::WaitingForTrigger);
    EXPECT_EQ(rig.acq->lamp(), Acquisition::Lamp::Yellow);
    MeasureRig::pump(1000); // 10 s of device time
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{"Trigger timeout!  10 sec."});
    EXPECT_EQ(rig.op.infoMessages().last(), "Trigger timeout!  10 sec.");
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Stopped);
    EXPECT_FALSE(rig.acq->triggerDown());
    EXPECT_EQ(rig.acq->lamp(), Acquisition::Lamp::Green);
}

TEST(AcquisitionTest, TriggerOptionsAreCheckedWithTheirTexts) {
    MeasureRig rig;
    rig.acq->options().triggerLevelEdited("100000");
    EXPECT_EQ(rig.op.lastInfoLine(Page::Options), "Triggerlevel out of range 0...99999 counts");
    rig.acq->options().sampleTimeEdited("-1");
    EXPECT_EQ(rig.op.lastInfoLine(Page::Options), "SampleTime out of range 0...200000 ms");
    rig.acq->triggerClicked(true);
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{"TrigerLevel or SampleTime is out of range!"});
    EXPECT_FALSE(sent(rig, "DX\r"));
    rig.acq->options().sampleTimeEdited("2000");
    EXPECT_EQ(rig.op.lastInfoLine(Page::Options), "");
}

TEST(AcquisitionTest, TheFirstCapturedValueIsTheOneThatLeftTheBand) {
    MeasureRig rig;
    rig.acq->options().sampleTimeEdited("200"); // 20 ms real
    rig.acq->setSelectedSlot(2);
    rig.acq->triggerClicked(true);
    rig.muteDevice();
    rig.feed("N", "+1.0"); // reference 10
    rig.feed("N", "+2.5"); // 25: inside 10 +- 15
    EXPECT_EQ(rig.acq->state(), Acquisition::State::WaitingForTrigger);
    rig.feed("N", "+2.6"); // 26 leaves the band
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Capturing);
    rig.feed("N", "+3.0");
    rig.feed("N", "+4.0");
    QThread::msleep(40);
    // The elapsed time is taken after each stored value, so the first late value is still stored and
    // the next one ends the capture.
    rig.feed("N", "+4.0");
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Capturing);
    rig.feed("N", "+9.0");
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Done);
    EXPECT_FALSE(rig.acq->triggerDown());
    const GraphSlot& slot = rig.memory.slot(2);
    ASSERT_TRUE(slot.recorded);
    ASSERT_EQ(slot.count, 4);
    EXPECT_FLOAT_EQ(slot.records[1].net, 26.0f);
    EXPECT_FLOAT_EQ(slot.values[1], 26.0f);
    EXPECT_FLOAT_EQ(slot.records[3].net, 40.0f);
    EXPECT_FLOAT_EQ(slot.records[1].time, 200.0f / 4 - 1);
    EXPECT_FLOAT_EQ(slot.records[2].count, 4.0f);
    // drawValueCapture plots values 2..n, value k at (k - 1) * s.
    const PointSeries& series = rig.graph.series(2);
    ASSERT_EQ(series.size(), 3u);
    EXPECT_DOUBLE_EQ(series[0].time, 200.0 / 4);
    EXPECT_DOUBLE_EQ(series[1].value, 40);
    EXPECT_DOUBLE_EQ(rig.graph.top(), 41);
    EXPECT_DOUBLE_EQ(rig.graph.left(), -20);
    EXPECT_EQ(rig.acq->lamp(), Acquisition::Lamp::Green);
}

TEST(AcquisitionTest, ACycleThatOutlastsTheSampleTimeStillDrawsWhatWasCaptured) {
    MeasureRig rig(4113);
    rig.acq->options().setUseStatusInformation(true);
    rig.acq->options().sampleTimeEdited("100"); // 10 ms real
    rig.acq->triggerClicked(true);
    EXPECT_TRUE(sent(rig, "GP-1\r"));
    rig.muteDevice();
    rig.feed("P", statusPacket(0x00, 0x00, 0x01, 0x00)); // idle
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Arming);
    rig.feed("P", statusPacket(0x01, 0x00, 0x02, 0x00)); // the cycle starts: record 1
    rig.feed("P", statusPacket(0x02, 0x00, 0x03, 0x00));
    rig.feed("P", statusPacket(0x04, 0x00, 0x04, 0x00));
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Capturing);
    QThread::msleep(30);
    rig.feed("P", statusPacket(0x04, 0x00, 0x05, 0x00));
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{"Sampletime expired before filling cycle stopped!"});
    const GraphSlot& slot = rig.memory.slot(1);
    ASSERT_EQ(slot.count, 3);
    EXPECT_EQ(rig.memory.capture()[1].state, 0);
    EXPECT_FLOAT_EQ(slot.records[3].gross, 400.0f);
    EXPECT_GT(slot.meanStep, 0.0);
    EXPECT_EQ(rig.graph.series(1).size(), 3u);
    QStringList markers;
    for (const GraphMarker& m : rig.graph.markers())
        markers << m.text;
    EXPECT_EQ(markers, (QStringList{"Triged", "Measuring"}));
    EXPECT_TRUE(rig.acq->averageReadTimer().isActive());
    EXPECT_EQ(rig.acq->lastDrawKind(), Acquisition::DrawKind::CheckWeigher);
}

TEST(AcquisitionTest, ADosingCycleEndsAtIdleAndRearmsWhenAsked) {
    MeasureRig rig(4114);
    rig.acq->options().setUseStatusInformation(true);
    rig.acq->options().setRetrigAfterDraw(true);
    rig.acq->options().sampleTimeEdited("100000");
    rig.acq->triggerClicked(true);
    EXPECT_TRUE(sent(rig, "SC\r"));
    rig.muteDevice();
    for (unsigned char s : {0x00, 0x03, 0x04, 0x05, 0x07, 0x00})
        rig.feed("P", statusPacket(s, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00));
    EXPECT_TRUE(rig.op.messageBoxes().isEmpty());
    EXPECT_EQ(rig.memory.slot(1).count, 4);
    EXPECT_TRUE(rig.acq->dosedReadTimer().isActive());
    QStringList markers;
    for (const GraphMarker& m : rig.graph.markers())
        markers << m.text;
    EXPECT_EQ(markers, (QStringList{"Coarse fill", "Fine dose", "Calculate dosed"}));
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Arming);
    rig.line.clearReceived();
    MeasureRig::pump(100);
    // Armed again without the first-time steps: no STOP, no "ID", no full-duplex check.
    EXPECT_TRUE(rig.acq->triggerDown());
    EXPECT_EQ(rig.line.receivedTexts(), (QList<QByteArray>{"SC\r", "GP-1\r"}));
}

TEST(AcquisitionTest, ARecordingStopsCleanlyAtItsCapacity) {
    MeasureRig rig;
    rig.acq->runClicked();
    rig.muteDevice();
    rig.comm->streamMatcher().setStartString("N");
    for (int i = 0; i < kMaxSamples; ++i)
        rig.dispatcher->dispatch("+1.5");
    EXPECT_EQ(rig.acq->sampleIndex(), kMaxSamples);
    EXPECT_TRUE(rig.acq->runDown());
    rig.dispatcher->dispatch("+2.5");
    EXPECT_FALSE(rig.acq->runDown());
    EXPECT_EQ(rig.op.lastInfoLine(Page::Display), "Max 500.000 samples reached - recording stopped!");
    EXPECT_FLOAT_EQ(rig.memory.slot(1).records[kMaxSamples].net, 15.0f);
    EXPECT_EQ(rig.memory.slot(1).records[1].count, float(kMaxSamples));
    EXPECT_EQ(rig.graph.liveTrace().size(), std::size_t(kMaxSamples));
    // Further lines only update the readout.
    rig.dispatcher->dispatch("+3.5");
    EXPECT_EQ(rig.readout.text(), "N +3.5");
}

TEST(DisplayPageTest, ShownStartsTheSelectedStreamAndLeavingStops) {
    MeasureRig rig;
    rig.readout.setText("old");
    rig.display->displayPageShown();
    EXPECT_EQ(rig.comm->streamMatcher().startString(), "N");
    EXPECT_TRUE(rig.comm->streamMatcher().isActive());
    EXPECT_EQ(rig.line.receivedTexts(), QList<QByteArray>{"SN\r"});
    MeasureRig::pump(200);
    EXPECT_TRUE(rig.readout.text().startsWith("N "));
    rig.acq->runClicked();
    rig.display->displayPageHidden();
    EXPECT_FALSE(rig.acq->runDown());
    EXPECT_EQ(rig.line.receivedTexts().last(), "SG\r");
}

TEST(BigDisplayTest, ClosingTheWindowClearsTheOptionAndTriggerValuesBringItBack) {
    MeasureRig rig;
    rig.readout.setShowBigDisplay(true);
    EXPECT_TRUE(rig.readout.bigDisplayVisible());
    rig.readout.bigDisplayHidden();
    EXPECT_FALSE(rig.readout.showBigDisplay());
    rig.readout.setShowBigDisplay(true);
    rig.readout.bigDisplayVisible(); // still shown
    rig.acq->triggerClicked(true);
    rig.muteDevice();
    // Hidden by other means while the option stays (minimised): a trigger value shows it again.
    rig.readout.setShowBigDisplay(true);
    int requests = 0;
    QObject::connect(&rig.readout, &LiveReadout::bigDisplayVisibilityRequested,
                     [&](bool v) { requests += v; });
    rig.feed("N", "+1.0");
    EXPECT_EQ(requests, 0); // visible already
}

// STOP pressed, or TRIGGER released, while the start still waits for the device (the full-duplex check of
// a slow device): the start ends there. No stream is started after STOP's "SG", and nothing stays locked.
TEST(AcquisitionTest, StopDuringRunsStartOrTriggersReleaseEndsTheStart) {
    MeasureRig rig;
    rig.line.setLatencyMs(300);
    QTimer::singleShot(TimeScale::ms(100), [&] { rig.acq->stopClicked(); });
    rig.acq->runClicked();
    EXPECT_EQ(rig.line.receivedTexts().last(), "SG\r");
    EXPECT_FALSE(sent(rig, "SN\r"));
    EXPECT_FALSE(rig.acq->toolBarLocked());
    EXPECT_FALSE(rig.graph.locked());
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Stopped);

    rig.line.clearReceived();
    QTimer::singleShot(TimeScale::ms(100), [&] { rig.acq->triggerClicked(false); });
    rig.acq->triggerClicked(true);
    MeasureRig::pump(100);
    EXPECT_FALSE(sent(rig, "SN\r"));
    EXPECT_FALSE(rig.acq->buttonGroupLocked());
    EXPECT_EQ(rig.acq->state(), Acquisition::State::Stopped);
}

// STOP's "SG" starts the gross stream: the matcher frames it, and a net readout says that nothing comes
// for it instead of showing the last weight as if it were live.
TEST(AcquisitionTest, AfterStopANetReadoutNeverShowsTheLastWeightAsLive) {
    MeasureRig rig;
    rig.acq->runClicked();
    MeasureRig::pump(200);
    ASSERT_GT(rig.acq->sampleIndex(), 0);
    rig.acq->stopClicked();
    EXPECT_EQ(rig.comm->streamMatcher().startString(), "G");
    EXPECT_EQ(rig.readout.text(), LiveReadout::kNoInput);
}
