// The window over the CAN bus where time matters: a long recording, and pages switched while a slow node
// keeps an exchange waiting.
#include "CanRig.h"
#include "app/MainController.h"
#include "base/TimeScale.h"
#include "measure/SilenceWatch.h"
#include "support/WindowRig.h"

#include <QPushButton>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {
const char* kDevice = "id=4113,fw=2.06,decimals=1,weight=12.3,update=20,pupdate=20";

QString canSettings() {
    return QString::fromLatin1(canBusSettings()) + "[Port]\nBaud=115200\nComNumber=1\n";
}
} // namespace

TEST(CanWindow, ARunOverTheCanBusFeedsTheSilenceWatch) {
    CanBusRig bus;
    ASSERT_TRUE(bus.start({kDevice}));
    WindowRig rig(canSettings());
    // Real time: the bridge's waits and the node's answers are not shrunk like a simulated line's.
    TimeScale::setFactor(1.0);
    rig.start();
    ASSERT_TRUE(waitFor([&] { return rig.controller->readout().text() == "N +0012.3"; }))
        << rig.controller->readout().text().toStdString();

    Acquisition& a = rig.controller->acquisition();
    rig.click(rig.named<QPushButton>(Page::Display, "RUN"));
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > 5; }));
    // Well past the two seconds the watch waits for.
    const int before = a.sampleIndex();
    QTest::qWait(3000);
    EXPECT_GT(a.sampleIndex(), before + 20);
    EXPECT_FALSE(rig.op.infoMessages.contains(SilenceWatch::noticeText("CAN-bus")))
        << rig.op.infoMessages.join('\n').toStdString();
    rig.click(rig.named<QPushButton>(Page::Display, "STOP"));
    ASSERT_TRUE(waitFor([&] { return !rig.controller->link().isBusy(); }));
}

namespace {
// The network commands and stream requests among the frames heard.
QStringList channelFrames(const QStringList& heard) {
    QStringList out;
    for (const QString& f : heard)
        if (f == "0:01" || f == "0:02" || f.startsWith("201:"))
            out << f;
    return out;
}
} // namespace

TEST(CanWindow, PagesSwitchedDuringASlowNodesExchangeStartAndStopTheStreamInTheirOrder) {
    CanBusRig bus;
    ASSERT_TRUE(bus.start({kDevice}));
    WindowRig rig(canSettings());
    // Real time: the bridge's waits and the node's answers are not shrunk like a simulated line's.
    TimeScale::setFactor(1.0);
    rig.start();
    ASSERT_TRUE(waitFor([&] { return rig.controller->readout().text() == "N +0012.3"; }));
    auto settle = [&] {
        ASSERT_TRUE(waitFor([&] { return !rig.controller->link().isBusy(); }, 15000));
        QTest::qWait(1200);
        ASSERT_TRUE(waitFor([&] { return !rig.controller->link().isBusy(); }, 15000));
        QTest::qWait(200);
    };

    // The node answers its parameter requests 1.5 s late from now on.
    ASSERT_EQ(bus.sim->control("can delay 1500"), "ok");
    rig.showPage(Page::Options);
    settle();

    // The Display page's start waits for the node; the Options page is chosen meanwhile. The node must
    // end stopped, as the page it streams for is gone.
    QTimer::singleShot(300, [&] { rig.showPage(Page::Options); });
    bus.frames();
    rig.showPage(Page::Display);
    settle();
    EXPECT_EQ(rig.main().pages()->currentWidget(), rig.page(Page::Options));
    QStringList seen = channelFrames(bus.frames());
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.last(), "0:02") << seen.join(' ').toStdString();

    // Options and then Display again while the start waits: the stream runs at the end.
    QTimer::singleShot(300, [&] { rig.showPage(Page::Options); });
    QTimer::singleShot(700, [&] { rig.showPage(Page::Display); });
    rig.showPage(Page::Display);
    settle();
    EXPECT_EQ(rig.main().pages()->currentWidget(), rig.page(Page::Display));
    seen = channelFrames(bus.frames());
    const qsizetype lastStop = seen.lastIndexOf("0:02");
    const qsizetype lastStart = seen.lastIndexOf("0:01");
    EXPECT_GT(lastStart, lastStop) << seen.join(' ').toStdString();
    EXPECT_EQ(seen.last(), "201:0080") << seen.join(' ').toStdString();
    rig.controller->readout().setText(QString());
    EXPECT_TRUE(waitFor([&] { return rig.controller->readout().text() == "N +0012.3"; }))
        << rig.controller->readout().text().toStdString();
    ASSERT_EQ(bus.sim->control("can delay 0"), "ok");
}
