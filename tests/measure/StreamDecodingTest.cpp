#include "MeasureRig.h"
#include "measure/StatusPacket.h"

#include <clocale>
#include <gtest/gtest.h>
#include <optional>
#include <string>

using namespace tarvo;
using tarvo::test::MeasureRig;
using tarvo::test::statusPacket;

namespace {

QStringList markerTexts(const GraphModel& graph) {
    QStringList texts;
    for (const GraphMarker& m : graph.markers())
        texts << m.text;
    return texts;
}

// RUN started against the simulator, then the device's own stream muted.
void startRun(MeasureRig& rig) {
    rig.acq->runClicked();
    ASSERT_TRUE(rig.acq->runDown());
    rig.muteDevice();
}

} // namespace

TEST(StatusPacketTest, PackedBcdValuesWithSignAndDecimalCount) {
    const auto p = StatusPacket::decode(statusPacket(0x00, 0x92, 0x34, 0x56, 0x12, 0x34, 0x56));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->decimals, 1);
    EXPECT_EQ(p->grossCounts, -23456);
    EXPECT_DOUBLE_EQ(p->gross, -2345.6);
    EXPECT_DOUBLE_EQ(p->net, 2345.6); // the gross byte's decimal count applies to net too

    // Decimal counts 6 and 7 leave the integer undivided.
    const auto undivided = StatusPacket::decode(statusPacket(0x00, 0x61, 0x23, 0x45));
    ASSERT_TRUE(undivided);
    EXPECT_DOUBLE_EQ(undivided->gross, 12345);

    const auto flags = StatusPacket::decode(statusPacket(0x75, 0, 0, 0));
    ASSERT_TRUE(flags);
    EXPECT_EQ(flags->state, 5);
    EXPECT_TRUE(flags->noMotion && flags->overRange && flags->underRange);

    // Only exactly seven bytes make a packet.
    EXPECT_FALSE(StatusPacket::decode(QByteArray(6, '\0')));
    EXPECT_FALSE(StatusPacket::decode(QByteArray(8, '\0')));
}

TEST(ReadoutTest, ValueLinesFollowTheSelectionPrefixAndAreRecordedInCounts) {
    MeasureRig rig;
    startRun(rig);
    rig.feed("N", "+123.4");
    EXPECT_EQ(rig.readout.text(), "N +123.4");
    EXPECT_EQ(rig.acq->sampleIndex(), 1);
    EXPECT_FLOAT_EQ(rig.memory.slot(1).records[1].net, 1234.0f);
    EXPECT_EQ(rig.graph.liveTrace().size(), 1u);

    // Not a number: the readout keeps its text and RUN says the data were corrupted.
    rig.feed("N", "+12x3");
    EXPECT_EQ(rig.readout.text(), "N +123.4");
    EXPECT_EQ(rig.op.lastInfoLine(Page::Display), "Data has been out of range or corrupted during test!");
    EXPECT_EQ(rig.acq->sampleIndex(), 1);

    // A change of selection moves the matcher and the prefix, and tells the device.
    rig.line.clearReceived();
    rig.display->setAutotransmit("SG");
    EXPECT_EQ(rig.comm->streamMatcher().startString(), "G");
    EXPECT_EQ(rig.readout.buttonCaption(), "Start autotransmit (SG)");
    EXPECT_TRUE(rig.line.receivedTexts().contains("SG\r"));
    rig.muteDevice();
    rig.feed("G", "-0.50");
    EXPECT_EQ(rig.readout.text(), "G -0.50");
    EXPECT_FLOAT_EQ(rig.memory.slot(1).records[2].gross, -50.0f);

    // Only the first "." goes: digits after a second are a fraction, and such a line is no readout text.
    rig.feed("G", "-1.2.5");
    EXPECT_EQ(rig.readout.text(), "G -0.50");
    EXPECT_FLOAT_EQ(rig.memory.slot(1).records[3].gross, -12.5f);
    // More digits than a 64-bit integer holds are still read as a number.
    rig.feed("G", "+12345678901234567890.12");
    EXPECT_FLOAT_EQ(rig.memory.slot(1).records[4].gross, 1234567890123456789012.0f);
}

TEST(ReadoutTest, EveryFormOfAValueLineIsReadOrRefusedAsAWhole) {
    MeasureRig rig;
    startRun(rig);
    struct Case {
        const char* text;
        bool shown;                   // a decimal number: the readout shows it
        std::optional<double> counts; // what the recording keeps, none when the line is no number
    };
    const Case cases[] = {
        {"7", true, 7},
        {"-.5", true, -5},
        {"5.", true, 5},
        {"+0000.0", true, 0},
        {"1234567890123456789", true, 1234567890123456789.0},   // the most digits an integer adds up
        {"98765432109876543210", true, 98765432109876543210.0}, // one more, in floating point
        {"1234567890.123456789", true, 1234567890123456789.0},  // 19 digits around a "."
        {"0.000000000000000000000000000000000000000000000000000000000000000000000001", true,
         1}, // longer than a weight line
        {"1.2.3", false, 12.3},
        {"", false, std::nullopt},
        {"+", false, std::nullopt},
        {"-.", false, std::nullopt},
        {"+-1", false, std::nullopt},
        {"1e5", false, std::nullopt},
        {"12 ", false, std::nullopt},
        {"\xb9"
         "1",
         false, std::nullopt}, // a byte above 127 is no digit
    };
    rig.feed("N", "+1.0");
    int recorded = rig.acq->sampleIndex();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        rig.feed("N", "+1.0");
        ++recorded;
        rig.feed("N", c.text);
        EXPECT_EQ(rig.readout.text(),
                  c.shown ? QStringLiteral("N ") + QString::fromLatin1(c.text) : "N +1.0");
        if (c.counts) {
            ++recorded;
            ASSERT_EQ(rig.acq->sampleIndex(), recorded);
            EXPECT_FLOAT_EQ(rig.memory.slot(1).records[recorded].net, float(*c.counts));
        } else {
            EXPECT_EQ(rig.acq->sampleIndex(), recorded);
        }
    }
}

TEST(ReadoutTest, StatusPacketsShowGrossOrNetWithTheirDecimals) {
    MeasureRig rig;
    rig.readout.restoreAutotransmit("SG");
    rig.feed("P", statusPacket(0x40, 0x09, 0x99, 0x99));
    EXPECT_EQ(rig.readout.text(), "G 99999");
    rig.feed("P", statusPacket(0x00, 0xA0, 0x05, 0x00));
    EXPECT_EQ(rig.readout.text(), "G -5.00");
    rig.readout.restoreAutotransmit("SN");
    rig.feed("P", statusPacket(0x00, 0x10, 0x12, 0x34, 0x00, 0x00, 0x07));
    EXPECT_EQ(rig.readout.text(), "N 0.7");

    // On a desktop whose decimal separator is a comma the readout still shows a point, as value lines do.
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "de_DE.utf8")) {
        rig.readout.restoreAutotransmit("SG");
        rig.feed("P", statusPacket(0x00, 0x20, 0x12, 0x34));
        EXPECT_EQ(rig.readout.text(), "G 12.34");
        rig.feed("P", statusPacket(0x00, 0x90, 0x00, 0x04));
        EXPECT_EQ(rig.readout.text(), "G -0.4");
        std::setlocale(LC_NUMERIC, before.c_str());
    }
}

TEST(ReadoutTest, ViewsHearOfAFastStreamOncePerRefreshWithTheNewestTextWhichIsAlwaysCurrent) {
    MeasureRig rig;
    startRun(rig);
    QStringList heard;
    QObject::connect(&rig.readout, &LiveReadout::textChanged, [&heard](const QString& t) { heard << t; });
    for (const char* value : {"+1.0", "+2.0", "+3.0"}) {
        rig.feed("N", value);
        // Asked between two refreshes, the text is the newest line's.
        EXPECT_EQ(rig.readout.text(), QStringLiteral("N ") + value);
    }
    EXPECT_TRUE(heard.isEmpty());
    MeasureRig::pump(3 * LiveReadout::kViewRefreshMs);
    EXPECT_EQ(heard, QStringList{"N +3.0"});
    // The same value again is no news; a word in place of a value is.
    rig.feed("N", "+3.0");
    MeasureRig::pump(3 * LiveReadout::kViewRefreshMs);
    EXPECT_EQ(heard, QStringList{"N +3.0"});
    rig.readout.showWord(LiveReadout::kNoInput);
    EXPECT_EQ(rig.readout.text(), "NO INPUT");
    MeasureRig::pump(3 * LiveReadout::kViewRefreshMs);
    // A text set outright is told at once.
    rig.readout.setText(QString());
    EXPECT_EQ(heard, (QStringList{"N +3.0", "NO INPUT", ""}));
}

TEST(StreamDispatcherTest, OnlySevenByteStatusPacketsAreDecoded) {
    MeasureRig rig(4114);
    startRun(rig);
    rig.readout.restoreAutotransmit("SG");
    rig.feed("P", statusPacket(0x41, 0x00, 0x01, 0x00));
    EXPECT_EQ(rig.readout.text(), "G 100");
    // A "P" among a packet's bytes frames a false, shorter or longer text: it is ignored.
    rig.feed("P", QByteArray("\x42\x00\x02", 3));
    rig.feed("P", statusPacket(0x42, 0x00, 0x02, 0x00) + "P");
    EXPECT_EQ(rig.readout.text(), "G 100");
    EXPECT_EQ(rig.acq->sampleIndex(), 1);
}

TEST(StreamDispatcherTest, DosingPacketsRecordFlagsAndAlwaysDrawStateMarkers) {
    MeasureRig rig(4114);
    ASSERT_FALSE(rig.acq->options().useStatusInformation());
    startRun(rig);
    EXPECT_EQ(rig.comm->streamMatcher().startString(), "P");
    rig.feed("P", statusPacket(0x40, 0x10, 0x00, 0x10));
    rig.feed("P", statusPacket(0x45, 0x10, 0x01, 0x00, 0x00, 0x00, 0x90));
    const SampleRecord& r = rig.memory.capture()[2];
    EXPECT_EQ(r.state, 5);
    EXPECT_TRUE(r.noMotion);
    EXPECT_FALSE(r.overRange);
    EXPECT_TRUE(r.dosingState[5]);
    EXPECT_EQ(std::count(std::begin(r.dosingState), std::end(r.dosingState), true), 1);
    // "SN" selected: net goes into the run recording.
    EXPECT_FLOAT_EQ(rig.memory.slot(1).records[2].net, 9.0f);
    rig.feed("P", statusPacket(0x40, 0x10, 0x00, 0x10));
    EXPECT_EQ(markerTexts(rig.graph), (QStringList{"FineFill", "Idle"}));
    EXPECT_TRUE(rig.acq->dosedReadTimer().isActive());
}

TEST(StreamDispatcherTest, CheckWeigherCycleDrawsStateNamesAndStartsTheAverageRead) {
    MeasureRig rig(4113);
    rig.acq->options().setUseStatusInformation(true);
    startRun(rig);
    for (unsigned char state : {0, 1, 2, 4, 0})
        rig.feed("P", statusPacket(state, 0x00, 0x01, 0x23));
    EXPECT_EQ(markerTexts(rig.graph), (QStringList{"AutoTare", "Triged", "Measuring", "Idle"}));
    EXPECT_TRUE(rig.acq->averageReadTimer().isActive());
    EXPECT_EQ(rig.acq->sampleIndex(), 5);
    EXPECT_EQ(rig.memory.capture()[1].state, 0);
    EXPECT_TRUE(rig.memory.capture()[4].checkState[4]);
}

TEST(StreamDispatcherTest, CheckWeigherMarkersNeedStatusInformation) {
    MeasureRig rig(4113);
    startRun(rig);
    for (unsigned char state : {0, 1, 2, 4, 0})
        rig.feed("P", statusPacket(state, 0x00, 0x01, 0x23));
    EXPECT_TRUE(rig.graph.markers().isEmpty());
    EXPECT_FALSE(rig.acq->averageReadTimer().isActive());
}

TEST(StreamDispatcherTest, LongTermSamplingRecordsOneInNPlusOne) {
    MeasureRig rig;
    rig.acq->options().setLongTermSampleEnable(true);
    rig.acq->options().setUseEvery(0); // N = 1
    startRun(rig);
    for (int i = 1; i <= 6; ++i)
        rig.feed("N", QByteArray::number(i));
    EXPECT_EQ(rig.acq->sampleIndex(), 3);
    EXPECT_FLOAT_EQ(rig.memory.slot(1).records[1].net, 2.0f);
    EXPECT_FLOAT_EQ(rig.memory.slot(1).records[3].net, 6.0f);

    rig.acq->options().setUseEvery(1); // N = 10: every eleventh
    for (int i = 0; i < 22; ++i)
        rig.feed("N", "7");
    EXPECT_EQ(rig.acq->sampleIndex(), 5);
}

TEST(StreamDispatcherTest, OverRangeStopsTheStepTimerAndStoresNothing) {
    MeasureRig rig;
    startRun(rig);
    rig.feed("N", "+1.0");
    ASSERT_TRUE(rig.acq->stepTimer().isEnabled());
    rig.feed("N", "ooooooo");
    EXPECT_EQ(rig.readout.text(), "OVERRANGE");
    EXPECT_EQ(rig.acq->sampleIndex(), 1);
    EXPECT_FALSE(rig.acq->stepTimer().isEnabled());
    EXPECT_EQ(rig.acq->lamp(), Acquisition::Lamp::Yellow);
    rig.feed("N", "uuuuuuu");
    EXPECT_EQ(rig.readout.text(), "UNDERRANGE");
    rig.feed("N", "+2.0");
    EXPECT_EQ(rig.acq->sampleIndex(), 2);
    EXPECT_TRUE(rig.acq->stepTimer().isEnabled());
    EXPECT_EQ(rig.acq->lamp(), Acquisition::Lamp::Red);

    // PAUSE: only the readout follows.
    rig.acq->pauseClicked(true);
    rig.feed("N", "+3.0");
    EXPECT_EQ(rig.readout.text(), "N +3.0");
    EXPECT_EQ(rig.acq->sampleIndex(), 2);
}

TEST(StreamDispatcherTest, CanLineCleanUpAppliesToValueLinesOnly) {
    {
        MeasureRig rig(4114);
        startRun(rig);
        rig.comm->setLinkKind(Link::Can);
        rig.acq->options().setUseStatusInformation(false);
        // Status bytes that look like the letters the clean-up deletes: 'G' state 7, net "N," bytes.
        const QByteArray packet = statusPacket(0x47, 0x00, 0x12, 0x34, 0x00, 'N', ',');
        const auto expected = StatusPacket::decode(packet);
        rig.feed("P", packet);
        ASSERT_EQ(rig.acq->sampleIndex(), 1);
        EXPECT_FLOAT_EQ(rig.memory.capture()[1].net, float(expected->net));
        EXPECT_FLOAT_EQ(rig.memory.capture()[1].gross, 1234.0f);
    }

    // A rig of its own, on the port the first one has let go.
    MeasureRig ascii;
    startRun(ascii);
    ascii.comm->setLinkKind(Link::Can);
    ascii.feed("N", "G+12.3\r");
    EXPECT_EQ(ascii.readout.text(), "N +12.3");
    EXPECT_FLOAT_EQ(ascii.memory.slot(1).records[1].net, 123.0f);
}

TEST(StreamDispatcherTest, LossWeigherScalesNetByItsOwnDecimalCount) {
    MeasureRig rig(5115);
    rig.acq->options().setUseStatusInformation(true);
    rig.device->setRefuseAll(false);
    startRun(rig);
    ASSERT_GE(rig.acq->lossDecimals(), 0);
    const int p = rig.acq->lossDecimals();
    rig.feed("P", statusPacket(0x00, 0x00, 0x12, 0x34, 0x01, 0x23, 0x45));
    EXPECT_FLOAT_EQ(rig.memory.capture()[1].net, float(12345 / StatusPacket::divisor(p)));
    EXPECT_FLOAT_EQ(rig.memory.slot(1).records[1].net, 1234.0f); // gross goes to the recording
    EXPECT_TRUE(rig.graph.markers().isEmpty());
}
