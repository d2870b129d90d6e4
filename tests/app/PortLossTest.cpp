// An adapter that goes away during a recording, over the real serial-port path: QSerialPort on a
// pseudo-terminal whose simulator side is closed, then a new one at the same mapped path.
#include "app/MainController.h"
#include "base/TimeScale.h"
#include "support/FakeOperator.h"
#include "support/ProcessCpu.h"
#include "support/PtyControllerRig.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

// Runs the program's event loop until done or the real-time limit.
bool pumpUntil(MainController& c, const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs)
            return false;
        c.link().waitSlice(10);
    }
    return true;
}

} // namespace

TEST(PtyPortLoss, AClosedLineEndsTheRecordingAtOnceAndANewOneAtTheSamePathIsFoundAgain) {
    TimeScale::setFactor(0.1);
    devsim::DeviceConfig config;
    config.baud = 115200;
    config.updateMs = 20;
    PtyControllerRig rig(config);
    ASSERT_TRUE(rig.start());
    MainController& c = *rig.controller;
    const FakeOperator& op = rig.op;
    c.displayPageShown();
    c.discovery().findDeviceClicked();
    ASSERT_TRUE(c.discovery().found());
    Acquisition& a = c.acquisition();
    a.runClicked();
    ASSERT_TRUE(a.runDown());
    ASSERT_TRUE(pumpUntil(c, [&] { return a.sampleIndex() > 5; }));

    rig.pull();
    ASSERT_TRUE(pumpUntil(
        c, [&] { return !a.runDown(); }, 2000))
        << "RUN still down after the line closed";
    EXPECT_TRUE(op.infoMessages().contains("COM1 not available: Input/output error"))
        << op.events.join('\n').toStdString();
    EXPECT_FALSE(c.link().port().isOpen());
    EXPECT_TRUE(a.stopDown());
    EXPECT_EQ(a.lamp(), Acquisition::Lamp::RedBlink);
    EXPECT_EQ(c.readout().text(), "NO INPUT");
    EXPECT_GT(c.recordings().slot(1).count, 5);
    // Nothing keeps polling the dead line: a second of the event loop costs next to no processor time.
    const double before = cpuSeconds();
    pumpUntil(
        c, [] { return false; }, 1000);
    EXPECT_LT(cpuSeconds() - before, 0.5);

    // The adapter is back at the same path: Find Device opens it again without a restart.
    ASSERT_TRUE(rig.plug());
    c.discovery().findDeviceClicked();
    EXPECT_TRUE(c.discovery().found());
    EXPECT_TRUE(c.link().port().isOpen());
    a.runClicked();
    EXPECT_TRUE(pumpUntil(c, [&] { return a.sampleIndex() > 5; }));
    a.stopClicked();
    c.shutdown();
    TimeScale::setFactor(1.0);
}
