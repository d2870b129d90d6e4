// The Display page's controls as the operator uses them, each through its widget against a streaming
// simulated transmitter: what reaches the device, and what the window then shows.
#include "support/WindowRig.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

// Types a value into a spin box as a person does: focus, the old text selected, the digits, Tab.
void typeInto(QSpinBox* box, int value) {
    ASSERT_NE(box, nullptr);
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QString::number(value));
    QTest::keyClick(box, Qt::Key_Tab);
}

} // namespace

TEST(DisplayControls, RunPauseStopAndStartAutotransmitReachTheDeviceAndTheReadoutTellsTheTruth) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.weight = 12.5;
    config.updateMs = 20;
    devsim::Line& line = rig.lineOn(1, config);
    rig.start();
    QLabel* readout = rig.named<QLabel>(Page::Display, "Readout");
    ASSERT_TRUE(waitFor([&] { return readout->text().startsWith("N "); }));
    Acquisition& a = rig.controller->acquisition();
    auto button = [&](const char* name) { return rig.named<QPushButton>(Page::Display, name); };
    QToolButton* zoom = rig.named<QToolButton>(Page::Display, "Zoom in and out");

    line.clearReceived();
    rig.click(button("RUN"));
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > 5; }));
    EXPECT_TRUE(line.receivedTexts().contains("SN\r"));
    EXPECT_FALSE(zoom->isEnabled());

    // PAUSE gives the scope's tools back while it is down and keeps the recording; up again, they lock.
    rig.click(button("PAUSE"));
    ASSERT_TRUE(waitFor([&] { return a.pauseDown(); }));
    EXPECT_TRUE(zoom->isEnabled());
    EXPECT_FALSE(a.stepTimer().isEnabled());
    rig.click(button("PAUSE"));
    ASSERT_TRUE(waitFor([&] { return !a.pauseDown(); }));
    EXPECT_FALSE(zoom->isEnabled());

    // STOP: the device streams gross values again; a net readout does not keep the last weight.
    rig.click(button("STOP"));
    ASSERT_TRUE(waitFor([&] { return !a.runDown() && !rig.controller->link().isBusy(); }));
    EXPECT_EQ(line.receivedTexts().last(), "SG\r");
    EXPECT_TRUE(waitFor([&] { return readout->text() == "NO INPUT"; })) << readout->text().toStdString();
    EXPECT_TRUE(zoom->isEnabled());

    // Start autotransmit brings the net stream back, and the readout follows it.
    line.clearReceived();
    line.devices().front()->setWeight(20.0);
    rig.click(button("Start autotransmit"));
    ASSERT_TRUE(waitFor([&] { return readout->text().startsWith("N ") && readout->text().contains("20.0"); }))
        << readout->text().toStdString();
    EXPECT_TRUE(line.receivedTexts().contains("SN\r"));
}

TEST(DisplayControls, AdjustersSlotsResetPointsAndJpegChangeWhatTheScopeShowsAndSaves) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.weight = 12.5;
    config.updateMs = 20;
    rig.lineOn(1, config);
    rig.start();
    GraphModel& graph = rig.controller->graph();
    auto tool = [&](const char* hint) { return rig.named<QToolButton>(Page::Display, hint); };
    auto spin = [&](const char* hint) { return rig.named<QSpinBox>(Page::Display, hint); };

    rig.click(rig.named<QPushButton>(Page::Display, "RUN"));
    ASSERT_TRUE(waitFor([&] { return rig.controller->acquisition().sampleIndex() >= 20; }));
    rig.click(rig.named<QPushButton>(Page::Display, "STOP"));
    ASSERT_TRUE(waitFor([&] { return !rig.controller->link().isBusy(); }));
    rig.click(tool("Redraw graph"));
    ASSERT_GE(graph.series(1).size(), 20u);

    typeInto(spin("Time adjustment"), 5000);
    EXPECT_DOUBLE_EQ(graph.right() - graph.left(), 5000.0);
    typeInto(spin("Counts adjustment"), 4000);
    EXPECT_DOUBLE_EQ(graph.top(), 4000.0);
    const double top = graph.top();
    QSpinBox* offset = spin("Offset adjustment");
    const int step = offset->singleStep();
    offset->setFocus();
    QTest::keyClick(offset, Qt::Key_Up);
    EXPECT_DOUBLE_EQ(graph.bottom(), step);
    EXPECT_DOUBLE_EQ(graph.top(), top + step); // the window keeps its height

    rig.click(tool("Show graph as points"));
    EXPECT_EQ(graph.drawStyle(), GraphModel::DrawStyle::Points);
    rig.click(tool("Show graph as lines"));
    EXPECT_EQ(graph.drawStyle(), GraphModel::DrawStyle::Lines);

    // A JPEG of what is shown, at the name the operator gave.
    const QString jpeg = rig.dir.filePath("scope.jpg");
    rig.op.saveNames = {jpeg};
    rig.click(tool("Save graph as JPEG"));
    QFile picture(jpeg);
    ASSERT_TRUE(picture.open(QIODevice::ReadOnly));
    const QByteArray bytes = picture.readAll();
    EXPECT_TRUE(bytes.startsWith("\xFF\xD8\xFF")) << bytes.left(4).toHex().toStdString();
    EXPECT_GT(bytes.size(), 1000);

    // A slot's Clear takes its line off the scope and keeps the recording for Redraw; RESET forgets both
    // and puts the window back.
    rig.click(rig.named<QPushButton>(Page::Display, "Clear Graph 1"));
    EXPECT_TRUE(graph.series(1).empty());
    EXPECT_TRUE(rig.controller->recordings().slot(1).recorded);
    rig.click(tool("Redraw graph"));
    EXPECT_GE(graph.series(1).size(), 20u);
    rig.click(rig.named<QPushButton>(Page::Display, "RESET"));
    EXPECT_TRUE(graph.series(1).empty());
    EXPECT_FALSE(rig.controller->recordings().slot(1).recorded);
    EXPECT_DOUBLE_EQ(graph.left(), 0.0);
    EXPECT_DOUBLE_EQ(graph.right(), 10000.0);
    EXPECT_DOUBLE_EQ(graph.top(), 9000.0);
    EXPECT_DOUBLE_EQ(graph.bottom(), -100.0);
}
