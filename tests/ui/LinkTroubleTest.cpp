// The window when the line misbehaves during a recording: a device that falls silent, an adapter pulled
// out. Driven with clicks on the offscreen platform against simulated devices; what the operator is told
// is read as a screen reader hears it.
#include "support/QtPrinters.h"
#include "support/WindowRig.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

QString informationLine(WindowRig& rig) {
    QLabel* info = rig.named<QLabel>(Page::Display, "Display information");
    return info ? accessibleName(info) : QStringLiteral("<no information line>");
}

} // namespace

TEST(WindowLinkTrouble, ASilentDeviceIsMentionedOncePerSilenceAndTheRecordingGoesOn) {
    WindowRig rig;
    devsim::Line& line = rig.lineOn(1);
    rig.start();
    Acquisition& a = rig.controller->acquisition();
    rig.click(rig.named<QPushButton>(Page::Display, "RUN"));
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > 5; }));

    const QString notice = "no data from COM1 for 2 s";
    line.setFault(devsim::Line::Fault::Silent);
    ASSERT_TRUE(waitFor([&] { return informationLine(rig) == notice; }));
    // Said once: a longer silence adds nothing.
    QTest::qWait(TimeScale::ms(3000));
    EXPECT_EQ(rig.op.infoMessages.count(notice), 1);
    EXPECT_TRUE(a.runDown());
    EXPECT_TRUE(rig.named<QPushButton>(Page::Display, "RUN")->isChecked());

    // Data again: the recording takes it, and the next silence is mentioned again.
    const int before = a.sampleIndex();
    line.setFault(devsim::Line::Fault::None);
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > before + 5; }));
    line.setFault(devsim::Line::Fault::Silent);
    ASSERT_TRUE(waitFor([&] { return rig.op.infoMessages.count(notice) == 2; }));
    EXPECT_TRUE(a.runDown());

    // No word about silence while nothing records.
    line.setFault(devsim::Line::Fault::None);
    rig.click(rig.named<QPushButton>(Page::Display, "STOP"));
    ASSERT_TRUE(waitFor([&] { return !rig.controller->link().isBusy(); }));
    line.setFault(devsim::Line::Fault::Silent);
    QTest::qWait(TimeScale::ms(3000));
    EXPECT_EQ(rig.op.infoMessages.count(notice), 2);
}

TEST(WindowLinkTrouble, AnUnplugDuringRunStopsItKeepingTheSamplesAndFindDeviceFindsTheDeviceAgain) {
    WindowRig rig;
    devsim::Line& line = rig.lineOn(1);
    rig.start();
    Acquisition& a = rig.controller->acquisition();
    auto button = [&](const char* caption) { return rig.named<QPushButton>(Page::Display, caption); };
    rig.click(button("RUN"));
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > 5; }));

    devsim::SimulatedPorts::unplug(1);
    ASSERT_TRUE(waitFor([&] { return informationLine(rig) == "COM1 not available: device removed"; }));
    // STOP as the operator would have pressed it, and the fault in sight.
    EXPECT_FALSE(button("RUN")->isChecked());
    EXPECT_TRUE(button("STOP")->isChecked());
    EXPECT_TRUE(button("RUN")->isEnabled());
    QLabel* lamp = rig.named<QLabel>(Page::Display, "Status lamp");
    ASSERT_NE(lamp, nullptr);
    EXPECT_EQ(accessibleDescription(lamp), "RedBlink = Error");
    QLabel* readout = rig.named<QLabel>(Page::Display, "Readout");
    ASSERT_NE(readout, nullptr);
    EXPECT_TRUE(waitFor([&] { return accessibleName(readout) == "NO INPUT"; }))
        << accessibleName(readout).toStdString();
    // What was recorded stays.
    const GraphSlot& slot = rig.controller->recordings().slot(1);
    EXPECT_TRUE(slot.recorded);
    EXPECT_GT(slot.count, 5);

    devsim::SimulatedPorts::attach(1, &line);
    rig.click(button("Find Device"));
    ASSERT_TRUE(rig.searched());
    EXPECT_EQ(informationLine(rig), "Device found at COM1  running 115200baud");
    rig.click(button("RUN"));
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > 5 && a.lamp() == Acquisition::Lamp::Red; }));
    EXPECT_EQ(accessibleDescription(lamp), "Red = Busy");
}
