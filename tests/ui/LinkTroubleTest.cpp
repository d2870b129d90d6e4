// The window when the line misbehaves during a recording: a device that falls silent, an adapter pulled
// out (a pseudo-terminal through the real serial port). Driven with clicks on the offscreen platform;
// what the operator is told is read as a screen reader hears it.
#include "engine/PtyLine.h"
#include "link/ComPortMap.h"
#include "link/QtSerialPortDevice.h"
#include "support/ProcessCpu.h"
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
    // The real serial-port path: a pseudo-terminal at a mapped path, whose simulator side is closed as an
    // adapter is pulled out, and then opened anew at the same path as the adapter comes back.
    WindowRig rig;
    devsim::Line& line = rig.lineOn(1);
    const QString mappedPath = rig.dir.filePath("ttyTarvo0");
    QString error;
    auto adapter = std::make_unique<devsim::PtyLine>(&line);
    ASSERT_TRUE(adapter->open(&error) && adapter->makeLink(mappedPath, &error)) << error.toStdString();
    ComPortMap map;
    map.setPath(1, mappedPath);
    rig.start(std::make_unique<QtSerialPortDevice>(map));
    Acquisition& a = rig.controller->acquisition();
    auto button = [&](const char* caption) { return rig.named<QPushButton>(Page::Display, caption); };
    rig.click(button("RUN"));
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > 5; }));

    adapter.reset();
    ASSERT_TRUE(waitFor([&] { return informationLine(rig) == "COM1 not available: Input/output error"; }))
        << informationLine(rig).toStdString();
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
    // Nothing polls the dead line: a second of the window at rest costs little processor time.
    const double before = cpuSeconds();
    QTest::qWait(1000);
    EXPECT_LT(cpuSeconds() - before, 0.5);

    // The adapter is back at the same path: Find Device opens it again without a restart.
    adapter = std::make_unique<devsim::PtyLine>(&line);
    ASSERT_TRUE(adapter->open(&error) && adapter->makeLink(mappedPath, &error)) << error.toStdString();
    rig.click(button("Find Device"));
    ASSERT_TRUE(rig.searched());
    EXPECT_EQ(informationLine(rig), "Device found at COM1  running 115200baud");
    rig.click(button("RUN"));
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > 5 && a.lamp() == Acquisition::Lamp::Red; }));
    EXPECT_EQ(accessibleDescription(lamp), "Red = Busy");
    rig.click(button("STOP"));
}
