#include "measure/ScopeControls.h"
#include "MeasureRig.h"

#include "measure/DataFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <set>

using namespace tarvo;
using tarvo::test::MeasureRig;

namespace {

struct ScopeRig : MeasureRig {
    ScopeControls controls{graph, memory, *acq, op};

    // A triggered value capture of the given values into the selected slot; the last value is fed
    // again after the sample time, which stores it once more and then ends the capture.
    void capture(std::initializer_list<const char*> values) {
        acq->options().sampleTimeEdited("200");
        acq->triggerClicked(true);
        muteDevice();
        feed("N", "+0.0"); // reference
        const char* last = "+0.0";
        for (const char* v : values)
            feed("N", last = v);
        QThread::msleep(40);
        feed("N", last);
        feed("N", last);
    }
};

} // namespace

TEST(ScopeControlsTest, CountsAdjusterStepsDownByFiveHundredThenTwentyAndBack) {
    ScopeRig rig;
    EXPECT_EQ(rig.controls.counts().position, 10000);
    std::vector<int> tops;
    while (rig.controls.counts().position > 1000) {
        EXPECT_EQ(rig.controls.counts().step, 500);
        rig.controls.countsDown();
        tops.push_back(static_cast<int>(rig.graph.top()));
    }
    EXPECT_EQ(tops.size(), 18u);
    EXPECT_EQ(tops.back(), 1000);
    EXPECT_EQ(rig.controls.counts().step, 20);
    rig.controls.countsDown();
    EXPECT_EQ(rig.graph.top(), 980);
    rig.controls.countsUp();
    rig.controls.countsUp();
    EXPECT_EQ(rig.graph.top(), 1020);
    EXPECT_EQ(rig.controls.counts().step, 500);
    rig.controls.countsUp();
    EXPECT_EQ(rig.graph.top(), 1520);
    // The same position again does nothing, not even a repaint.
    const int repaints = rig.graph.repaintCount();
    rig.controls.setCountsPosition(1520);
    EXPECT_EQ(rig.graph.repaintCount(), repaints);
    rig.controls.setCountsPosition(5);
    EXPECT_EQ(rig.graph.top(), 10);
}

TEST(ScopeControlsTest, OffsetKeepsTheWindowHeightAndTimeBaseFollowsTheRunClock) {
    ScopeRig rig;
    // The start window (-100 .. 9000) gives the coarse step.
    EXPECT_EQ(rig.controls.offset().step, 500);
    rig.graph.setValueWindow(0, 1500);
    rig.controls.setOffsetPosition(100);
    EXPECT_EQ(rig.graph.bottom(), 100);
    EXPECT_EQ(rig.graph.top(), 2000); // moved by the step in force
    EXPECT_EQ(rig.controls.offset().step, 100);
    rig.controls.setOffsetPosition(0);
    EXPECT_EQ(rig.graph.bottom(), 0);
    EXPECT_EQ(rig.graph.top(), 1900);
    rig.controls.setOffsetPosition(-900);
    EXPECT_EQ(rig.graph.top(), 1800);
    EXPECT_EQ(rig.controls.offset().step, 500);
    rig.graph.setValueWindow(0, 500);
    rig.controls.setOffsetPosition(-880);
    EXPECT_EQ(rig.graph.top(), 1000);
    EXPECT_EQ(rig.controls.offset().step, 100);

    rig.graph.setTimeWindow(0, 10000);
    rig.controls.setTimeBasePosition(5000);
    EXPECT_EQ(rig.graph.left(), 5000);
    EXPECT_EQ(rig.graph.right(), 10000);
    rig.controls.timeBaseUp();
    EXPECT_EQ(rig.graph.left(), 4000);
}

TEST(ScopeControlsTest, ClearedSlotRedrawsButClearAllForgetsEveryRecording) {
    ScopeRig rig;
    rig.acq->setSelectedSlot(2);
    EXPECT_EQ(rig.controls.selectedSlot(), 2);
    rig.capture({"+5.0", "+6.0", "+7.0"});
    ASSERT_TRUE(rig.memory.slot(2).recorded);
    const std::size_t drawn = rig.graph.series(2).size();
    ASSERT_GT(drawn, 0u);

    rig.controls.clearClicked(2);
    EXPECT_TRUE(rig.graph.series(2).empty());
    rig.controls.redrawClicked();
    EXPECT_EQ(rig.graph.series(2).size(), drawn);
    EXPECT_TRUE(rig.op.messageBoxes().isEmpty());

    rig.graph.addMarker("x", 1);
    rig.controls.clearAllClicked();
    EXPECT_TRUE(rig.graph.series(2).empty());
    EXPECT_TRUE(rig.graph.markers().isEmpty());
    EXPECT_EQ(rig.graph.left(), 0);
    EXPECT_EQ(rig.graph.right(), 10000);
    EXPECT_EQ(rig.graph.bottom(), -1000);
    EXPECT_EQ(rig.graph.top(), 1000);
    EXPECT_EQ(rig.controls.runClock(), 0);
    rig.controls.toolClicked(ScopeControls::Tool::Redraw);
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{"Can't redraw a graph that has never been drawed!"});
    EXPECT_TRUE(rig.graph.series(2).empty());

    rig.controls.resetClicked();
    EXPECT_EQ(rig.graph.bottom(), -100);
    EXPECT_EQ(rig.graph.top(), 9000);
}

TEST(ScopeControlsTest, ACaptureOfEqualValuesGetsAWindowOfHeightZero) {
    ScopeRig rig;
    rig.capture({"+5.0", "+5.0", "+5.0", "+5.0"});
    EXPECT_EQ(rig.graph.top(), 50);
    EXPECT_EQ(rig.graph.bottom(), 50);
}

TEST(ScopeControlsTest, GraphOptionsColoursModesAndPerformance) {
    ScopeRig rig;
    EXPECT_EQ(rig.controls.unitsKeyUp("kg"), "kg");
    EXPECT_TRUE(rig.op.messageBoxes().isEmpty());
    EXPECT_EQ(rig.controls.unitsKeyUp("kgxx"), "kgx");
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{"Units - Max 3 character!"});
    EXPECT_EQ(rig.graph.unitLabel(), "kgx");
    rig.controls.graphNameEdited("Filler 2");
    EXPECT_EQ(rig.graph.caption(), "Filler 2");

    // The colour dialog starts from the current colour; cancelling keeps it.
    rig.op.colours.push_back(0x123456);
    rig.controls.colourButtonClicked(GraphModel::Grid);
    EXPECT_EQ(rig.graph.colour(GraphModel::Grid), 0x123456u);
    rig.controls.colourButtonClicked(GraphModel::Marks);
    EXPECT_EQ(rig.graph.colour(GraphModel::Marks), 0xff0000u);

    EXPECT_EQ(ScopeControls::mouseModeNames().indexOf("mmPencil"), 7);
    rig.controls.setMouseModeIndex(7);
    EXPECT_TRUE(rig.controls.pencilButtonsVisible());
    rig.graph.addPencilDrawing({{1, 1}, {2, 2}});
    rig.graph.addPencilDrawing({{3, 3}});
    rig.controls.clearLastPencilClicked();
    EXPECT_EQ(rig.graph.pencilDrawings().size(), 1);
    rig.controls.clearPencilClicked();
    EXPECT_TRUE(rig.graph.pencilDrawings().isEmpty());
    rig.controls.toolClicked(ScopeControls::Tool::DeleteLastPencil); // nothing to delete
    rig.controls.toolClicked(ScopeControls::Tool::Pan);
    EXPECT_EQ(rig.graph.mouseMode(), GraphModel::MouseMode::Pan);
    EXPECT_FALSE(rig.controls.pencilButtonsVisible());
    rig.controls.toolClicked(ScopeControls::Tool::PencilDraw);
    EXPECT_EQ(rig.graph.mouseMode(), GraphModel::MouseMode::CombinedDraw);
    rig.controls.toolClicked(ScopeControls::Tool::Points);
    EXPECT_EQ(rig.graph.drawStyle(), GraphModel::DrawStyle::Points);
    rig.controls.toolClicked(ScopeControls::Tool::Zoom);
    EXPECT_EQ(rig.graph.mouseMode(), GraphModel::MouseMode::Scale);

    EXPECT_EQ(rig.controls.graphicsPerformance(), 3);
    rig.controls.setGraphicsPerformance(6);
    EXPECT_EQ(rig.acq->liveDrawTimer().interval(), TimeScale::ms(10));
    rig.controls.setGraphicsPerformance(0);
    EXPECT_EQ(rig.acq->liveDrawTimer().interval(), TimeScale::ms(400));
}

TEST(ScopeControlsTest, EverySlotKeepsAndRedrawsItsOwnRecordingAndSavesTheNumbersItDraws) {
    ScopeRig rig;
    rig.readout.restoreAutotransmit("SG");
    rig.capture({"+5.0", "+6.0", "+7.0"});
    ASSERT_TRUE(rig.memory.slot(1).recorded);
    std::vector<double> first;
    for (const GraphPoint& p : rig.graph.series(1))
        first.push_back(p.value);
    ASSERT_EQ(first, (std::vector<double>{60, 70, 70}));

    // A later capture into Graph 2 reuses the capture buffers; Graph 1's recording is not touched.
    rig.controls.selectSlot(2);
    rig.capture({"-3.5", "-4.5"});
    ASSERT_TRUE(rig.memory.slot(2).recorded);
    rig.controls.selectSlot(1);
    rig.controls.clearClicked(1);
    rig.controls.redrawClicked();
    std::vector<double> redrawn;
    for (const GraphPoint& p : rig.graph.series(1))
        redrawn.push_back(p.value);
    EXPECT_EQ(redrawn, first);

    // The dosing data file of Graph 2 holds the values the scope draws for it, not an unused field.
    QTemporaryDir dir;
    DataFiles files(rig.op, rig.memory);
    ASSERT_TRUE(files.writeDosingData(dir.filePath("dose.csv"), 2));
    QFile dose(dir.filePath("dose.csv"));
    ASSERT_TRUE(dose.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = dose.readAll().split('\n');
    ASSERT_GE(rows.size(), 5);
    EXPECT_TRUE(rows[2].startsWith("-35,")) << rows[2].toStdString();
    EXPECT_TRUE(rows[3].startsWith("-45,")) << rows[3].toStdString();
    EXPECT_TRUE(rows[4].startsWith("-45,")) << rows[4].toStdString();
}

TEST(ScopeControlsTest, DuringARunTheTimeWindowFollowsTheNewestSampleAtItsWidth) {
    ScopeRig rig;
    rig.acq->runClicked();
    rig.muteDevice();
    ASSERT_TRUE(rig.acq->liveDrawTimer().isActive());
    // Samples arrive, then the live-draw refresh ticks, as while the program runs.
    auto samples = [&rig](int n) {
        for (int i = 0; i < n; ++i)
            rig.feed("N", "+12.5");
        rig.acq->liveDrawTick();
    };
    auto newest = [&rig] { return rig.graph.liveTrace()[rig.graph.liveTrace().size() - 1].time; };
    samples(3);
    rig.acq->stepTimeTick();
    ASSERT_DOUBLE_EQ(rig.acq->stepTime(), 250.0);

    // Up to 10 s the window stays where RUN put it.
    samples(40);
    EXPECT_EQ(newest(), 10000);
    EXPECT_EQ(rig.graph.left(), 0);
    EXPECT_EQ(rig.graph.right(), 10000);
    // Past it, the newest sample stays in view, the width is kept, and the view turns a page now and then
    // (the newest sample goes to the first quarter) rather than moving with every sample.
    std::set<double> lefts;
    for (int tick = 0; tick < 30; ++tick) {
        samples(1 + tick % 3);
        ASSERT_GE(rig.graph.right(), newest()) << tick;
        ASSERT_LE(rig.graph.left(), newest()) << tick;
        ASSERT_EQ(rig.graph.right() - rig.graph.left(), 10000) << tick;
        lefts.insert(rig.graph.left());
    }
    EXPECT_EQ(newest(), 25000);
    EXPECT_EQ(lefts, (std::set<double>{7750, 15750}));

    // The time base still sets the width; the following pages keep it.
    rig.controls.setTimeBasePosition(5000);
    EXPECT_EQ(rig.graph.right() - rig.graph.left(), 5000);
    samples(30);
    EXPECT_GE(rig.graph.right(), newest());
    EXPECT_LE(rig.graph.left(), newest());
    EXPECT_EQ(rig.graph.right() - rig.graph.left(), 5000);
}
