// The CAN bridge against the simulator on Qt's virtual CAN bus: what each command line puts on the bus,
// and the reply text it hands back in the form a serial device sends.
#include "link/CanBridge.h"
#include "CanRig.h"
#include "link/CanReplyText.h"
#include "measure/StatusPacket.h"
#include "protocol/CommandTable.h"
#include "support/FakeOperator.h"
#include "support/HoldUpBeforeTimers.h"

#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

class CanBridgeTest : public ::testing::Test {
protected:
    void startBridge() {
        adapter = std::make_unique<CanAdapter>(CanAdapterPlace{"virtualcan", canBusInterface()});
        bridge = std::make_unique<CanBridge>(*adapter, op);
        bridge->setErrorReporting(true);
        bridge->setLineCallback([this](QByteArrayView line) { lines << line.toByteArray(); });
    }
    QByteArray ask(const QByteArray& line) { return bridge->exchange(line).value_or("<unset>"); }
    // The program's requests only (network commands, parameter requests, command channels).
    QStringList requests() {
        QStringList out;
        for (const QString& f : bus.frames())
            if (!f.startsWith("581:") && !f.startsWith("181:") && !f.startsWith("281:") &&
                !f.startsWith("381:"))
                out << f;
        return out;
    }

    CanBusRig bus;
    FakeOperator op;
    std::unique_ptr<CanAdapter> adapter;
    std::unique_ptr<CanBridge> bridge;
    QList<QByteArray> lines;
};

} // namespace

TEST_F(CanBridgeTest, ParameterLinesReadAndWriteTheDevicesObjects) {
    ASSERT_TRUE(bus.start({"id=4113,decimals=2,weight=-1.5"}));
    startBridge();

    EXPECT_EQ(ask("FL 5\r"), "OK");
    EXPECT_EQ(requests(), (QStringList{"0:02", "601:2300210405000000"})); // network stop, then the write
    EXPECT_EQ(ask("FL\r"), "F+00005\r");
    EXPECT_EQ(requests(), (QStringList{"0:02", "601:4000210400000000"}));
    EXPECT_EQ(ask("fl 3\r"), "OK");
    EXPECT_EQ(ask("FL\r"), "F+00003\r");

    // The device's decimal count is read before the first measured value; one written through the
    // bridge formats the values from then on.
    requests();
    EXPECT_EQ(ask("GN\r"), "N-001.50\r");
    EXPECT_EQ(requests(), (QStringList{"601:4000230b00000000", "601:4000290200000000"}));
    EXPECT_EQ(ask("GN\r"), "N-001.50\r");
    EXPECT_EQ(requests(), QStringList{"601:4000290200000000"}); // read once, not before every value
    EXPECT_EQ(ask("DP2"), "OK");
    EXPECT_EQ(bridge->decimalCount(), 2);
    EXPECT_EQ(ask("GN\r"), "N-001.50\r");
    EXPECT_EQ(ask("GG\r"), "G-001.50\r");

    // Setpoints: index 0..3 is sub-index 1..4 of their object.
    EXPECT_EQ(ask("S4\r"), "ERR");
    EXPECT_EQ(ask("S1 150\r"), "OK");
    requests();
    EXPECT_EQ(ask("S1\r"), "S1:+00150\r");
    EXPECT_EQ(requests(), (QStringList{"601:4000260200000000"}));
    EXPECT_EQ(ask("H0 -20;"), "OK");
    EXPECT_EQ(ask("H0\r"), "H0:-00020\r");

    // The identity and version come as hex digit pairs.
    EXPECT_EQ(ask("ID\r"), "D:4113\r");
    EXPECT_EQ(bus.sim->control("identity 1 0 5115"), "ok");
    EXPECT_EQ(ask("ID\r"), "D:5115\r");
    EXPECT_EQ(ask("IS\r"), "S:001000\r");

    EXPECT_EQ(ask("WP\r"), "OK"); // a save carries the device address as its value
    EXPECT_EQ(ask("QQ"), "ERR");
    EXPECT_EQ(ask("XY 1\r"), "ERR");
    EXPECT_TRUE(op.messageBoxes().isEmpty()) << op.events.join('\n').toStdString();
}

TEST_F(CanBridgeTest, TheDeviceAddressMovesTheObjectsAndSpecialLinesNeedNoTable) {
    ASSERT_TRUE(bus.start({"id=4110,addr=12"}));
    startBridge();

    EXPECT_EQ(ask("OP12\r"), "OK\r");
    EXPECT_EQ(bridge->deviceAddress(), 12);
    EXPECT_EQ(ask("FL\r"), "F+00003\r");
    EXPECT_EQ(requests(), (QStringList{"0:02", "601:400c210400000000"}));
    EXPECT_EQ(kCommandTable[static_cast<std::size_t>(bridge->lastRow())].objectIndex, 0x2100);
    EXPECT_EQ(ask("OP70\r"), "OK\r");
    EXPECT_EQ(bridge->deviceAddress(), 12);
    EXPECT_EQ(ask("OPxx\r"), "TimeOutErr\r");

    QTest::qWait(50);
    requests();
    EXPECT_EQ(ask("DX\r"), "X:001\r");
    EXPECT_EQ(bridge->exchange("TA\r"), std::nullopt);
    QTest::qWait(100);
    EXPECT_TRUE(requests().isEmpty());

    // A process command carries the device address and the row's mask, and sets no reply.
    EXPECT_EQ(bridge->exchange("ST\r"), std::nullopt);
    EXPECT_EQ(bridge->exchange("TR\r"), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return bus.heard.size() >= 2; }));
    EXPECT_EQ(requests(), (QStringList{"201:0c08", "301:0c80"}));
}

TEST_F(CanBridgeTest, ProcessFramesBecomeTheStreamLinesAndPacketsTheDecodersRead) {
    ASSERT_TRUE(bus.start({"id=4110,decimals=1,weight=12.3,tare=2,update=20"}));
    startBridge();

    bridge->startProcessChannel();
    EXPECT_EQ(bridge->decimalCount(), 1); // read from the device at the channel's start
    EXPECT_EQ(ask("SN\r"), "OK\r");
    ASSERT_TRUE(waitUntil([&] { return !lines.isEmpty(); }));
    EXPECT_EQ(lines.first(), "N+0010.3\r");

    EXPECT_EQ(ask("GP-1\r"), "OK\r");
    EXPECT_EQ(bridge->streamMode(), 'P');
    EXPECT_DOUBLE_EQ(bridge->storedTare(), 2.0);
    lines.clear();
    ASSERT_TRUE(waitUntil([&] { return !lines.isEmpty(); }));
    const QByteArray packet = lines.first();
    ASSERT_EQ(packet.size(), 9);
    EXPECT_EQ(packet.front(), 'P');
    EXPECT_EQ(packet.back(), '\r');
    const std::optional<StatusPacket> p = StatusPacket::decode(packet.mid(1, 7));
    ASSERT_TRUE(p);
    EXPECT_DOUBLE_EQ(p->gross, 12.3);
    EXPECT_DOUBLE_EQ(p->net, 10.3);
    EXPECT_EQ(p->decimals, 1);
    EXPECT_TRUE(p->noMotion);
    EXPECT_FALSE(p->overRange);
    EXPECT_EQ(p->state, 0);

    EXPECT_EQ(ask("SA\r"), "OK\r");
    ASSERT_TRUE(waitUntil([&] { return lines.last().startsWith('A'); }));
    EXPECT_EQ(lines.last(), "A+0012.3\r");

    bridge->stopProcessChannel();
    QTest::qWait(100);
    lines.clear();
    QTest::qWait(200);
    EXPECT_TRUE(lines.isEmpty()); // the device sends no process frames once stopped
}

TEST_F(CanBridgeTest, FailuresAreReportedInPlainWordsOnlyWhileTheCanLinkIsChosen) {
    adapter = std::make_unique<CanAdapter>(CanAdapterPlace{"no-such-plugin", "can0"});
    bridge = std::make_unique<CanBridge>(*adapter, op);
    EXPECT_EQ(ask("FL\r"), "TimeOutErr\r");
    EXPECT_TRUE(op.messageBoxes().isEmpty());
    bridge->setErrorReporting(true);
    EXPECT_EQ(ask("FL\r"), "TimeOutErr\r");
    ASSERT_EQ(op.messageBoxes().size(), 1);
    EXPECT_TRUE(op.messageBoxes().first().startsWith("Error Code = 0200\rCAN_ERR_NOVXD\r\rThe CAN plugin "
                                                     "\"no-such-plugin\" cannot be loaded"));
    EXPECT_TRUE(op.events.last().startsWith("box[USB2CAN ERROR]"));
    EXPECT_FALSE(bridge->linkOpen());

    // A missing interface is named too.
    CanAdapter missing({"socketcan", "tarvo-none0"});
    CanBridge overMissing(missing, op);
    overMissing.setErrorReporting(true);
    EXPECT_EQ(overMissing.exchange("ID\r"), "TimeOutErr\r");
    ASSERT_EQ(op.messageBoxes().size(), 2);
    EXPECT_TRUE(op.messageBoxes().last().startsWith("Error Code = 1400\rCAN_ERR_ILLHW\r\rThe CAN interface "
                                                    "\"tarvo-none0\" (plugin socketcan) is not there"))
        << op.messageBoxes().last().toStdString();

    // The report's bit names, and none at all for an empty receive queue.
    EXPECT_EQ(CanReplyText::errorReport(0x1400), "Error Code = 1400\rCAN_ERR_ILLHW\r");
    EXPECT_EQ(CanReplyText::errorReport(0x1C00), "Error Code = 1C00\rCAN_ERR_ILLHW\rCAN_ERR_ILLNET\r");
    EXPECT_EQ(CanReplyText::errorReport(0x0009), "Error Code = 0009\rCAN_ERR_XMTFULL\rCAN_ERR_BUSHEAVY\r");
    EXPECT_EQ(CanReplyText::errorReport(0x8040), "Error Code = 8040\rCAN_ERR_QOVERRUN\rCAN_ERR_PARMVAL\r");
    EXPECT_EQ(CanReplyText::errorReport(0x0021), std::nullopt);

    // Another speed closes the interface and shows its register value.
    bridge->speedChosen(0);
    EXPECT_EQ(op.events.last(), "box[CAN_BAUD_1M]: 0014");
}

TEST_F(CanBridgeTest, ALostBusServerIsALostAdapterReportedOnceWithoutSpinning) {
    ASSERT_TRUE(bus.start({"id=4110"}));
    startBridge();
    bridge->startProcessChannel();
    EXPECT_EQ(ask("SN\r"), "OK\r");
    ASSERT_TRUE(waitUntil([&] { return !lines.isEmpty(); }));

    bus.stop(); // the simulator served the bus
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(waitUntil([&] { return !bridge->linkOpen(); }, 5000)); // the poll notices
    EXPECT_LT(t.elapsed(), 5000);
    ASSERT_EQ(op.messageBoxes().size(), 1);
    EXPECT_TRUE(op.messageBoxes().first().contains("CAN_ERR_ILLHW"));
    // What is known is said: which interface of which plugin, and the plugin's reason or that it gave none.
    EXPECT_TRUE(op.messageBoxes().first().contains("(plugin virtualcan) went away"))
        << op.messageBoxes().first().toStdString();
    EXPECT_FALSE(op.messageBoxes().first().endsWith(": ")) << op.messageBoxes().first().toStdString();
    QTest::qWait(200);
    EXPECT_EQ(op.messageBoxes().size(), 1); // closed, so nothing more is read or reported

    // Once the bus is back the next command opens the adapter again.
    ASSERT_TRUE(bus.start({"id=4110"}));
    EXPECT_EQ(ask("FL\r"), "F+00003\r");
}

TEST_F(CanBridgeTest, AnAnswerCutShortIsAnErrorForEveryKind) {
    ASSERT_TRUE(bus.start({"id=4113,decimals=1,weight=12.5"}));
    startBridge();
    // Whole answers first, so that each line below is one the device accepts.
    EXPECT_EQ(ask("FL\r"), "F+00003\r");
    EXPECT_EQ(ask("FL 4\r"), "OK");
    EXPECT_EQ(ask("S1 150\r"), "OK");
    EXPECT_EQ(ask("S1\r"), "S1:+00150\r");
    EXPECT_EQ(ask("GN\r"), "N+0012.5\r");
    EXPECT_EQ(ask("WP\r"), "OK");
    // A zero calibration, opened by the code the device hands out.
    QByteArray code = ask("CE\r");
    ASSERT_TRUE(code.startsWith("E+")) << code.toStdString();
    ASSERT_EQ(ask("CE " + code.mid(2).trimmed() + "\r"), "OK");
    EXPECT_EQ(ask("CZ\r"), "OK");
    code = ask("CE\r");
    ASSERT_TRUE(code.startsWith("E+")) << code.toStdString();

    // Index and sub-index only (0x585 43 00 26 02): no value, so nothing to tell or confirm.
    ASSERT_EQ(bus.sim->control("can short 4"), "ok");
    EXPECT_EQ(ask("FL\r"), "ERR\r");
    EXPECT_EQ(ask("FL 5\r"), "ERR");
    EXPECT_EQ(ask("S1\r"), "ERR\r");
    EXPECT_EQ(ask("S1 160\r"), "ERR");
    EXPECT_EQ(ask("GN\r"), "TimeOutErr\r"); // a measured value of another length is no answer at all
    EXPECT_EQ(ask("WP\r"), "ERR");
    EXPECT_EQ(ask("CE " + code.mid(2).trimmed() + "\r"), "ERR"); // taken by the device, but unconfirmed
    EXPECT_EQ(ask("CZ\r"), "ERR");
    ASSERT_EQ(bus.sim->control("can short 7"), "ok");
    EXPECT_EQ(ask("S1\r"), "ERR\r");
    EXPECT_EQ(ask("GN\r"), "TimeOutErr\r");
}

TEST_F(CanBridgeTest, AFrameWrittenJustBeforeTheAdapterClosesStillReachesTheBus) {
    ASSERT_TRUE(bus.start({"id=4110"}));
    startBridge();
    EXPECT_EQ(ask("FL\r"), "F+00003\r");
    bus.frames();
    // No event loop runs between the command and the end, as when tarvo-cli exits after it.
    EXPECT_EQ(bridge->exchange("ST\r"), std::nullopt);
    bridge->close();
    bridge.reset();
    adapter.reset();
    EXPECT_TRUE(bus.sent("201:0008"));
    EXPECT_TRUE(op.messageBoxes().isEmpty()) << op.events.join('\n').toStdString();
}

// The device answers in time, but this thread is held up past the answer's time limit (a second) after
// the event loop last polled the bus and before it looks at its timers: the answer is taken, not a
// time-out. An answer later than the limit is still one.
TEST_F(CanBridgeTest, AnAnswerThatCameInTimeIsTakenThoughTheThreadWasHeldUpPastTheLimit) {
    test::HoldUpBeforeTimers holdUp;
    if (!holdUp.available())
        GTEST_SKIP() << "Qt does not run on the glib main loop here";
    ASSERT_TRUE(bus.start({"id=4113,decimals=1,weight=12.5"}));
    startBridge();
    EXPECT_EQ(ask("GN\r"), "N+0012.5\r"); // the decimal count is known from now on

    // Armed once the request is out; the timer a millisecond later ends the next poll before the
    // device's answer, 20 ms late, is there.
    ASSERT_EQ(bus.sim->control("can delay 20"), "ok");
    QTimer::singleShot(1, Qt::PreciseTimer, [&] { holdUp.arm(1300); });
    QTimer::singleShot(2, Qt::PreciseTimer, [] {});
    EXPECT_EQ(ask("GN\r"), "N+0012.5\r");

    ASSERT_EQ(bus.sim->control("can delay 2000"), "ok");
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(ask("GN\r"), "TimeOutErr\r");
    EXPECT_GE(t.elapsed(), 1000);
    EXPECT_LT(t.elapsed(), 2000);
}

// A node slower than the wait answers every request, late and in order: the late confirmation of one write
// is not taken for the next write of the same setting, which the device refuses; a confirmation is never
// read as the value; another node's answer and weights are not this node's; and when the device does not
// tell its decimal count, its status packets still carry the weight it shows.
TEST_F(CanBridgeTest, LateAnswersAndOtherNodesFramesAreNeverTakenForThisNodes) {
    ASSERT_TRUE(bus.start({"id=4110,decimals=1,weight=12.5,update=20"}));
    startBridge();
    CanMessage weight;
    weight.length = 8;
    weight.data = {0x7b, 0, 0, 0, 0, 0, 0, 0}; // 123 counts
    weight.id = 0x182;
    lines.clear();
    bridge->frameReceived(weight);
    EXPECT_TRUE(lines.isEmpty());
    weight.id = 0x181;
    bridge->frameReceived(weight);
    EXPECT_EQ(lines, (QList<QByteArray>{"N+123\r"}));

    ASSERT_EQ(bus.sim->control("refuse 1 0 DP?"), "ok");
    EXPECT_EQ(ask("GP-1\r"), "OK\r");
    lines.clear();
    ASSERT_TRUE(waitUntil([&] { return !lines.isEmpty() && lines.last().startsWith('P'); }));
    const std::optional<StatusPacket> p = StatusPacket::decode(lines.last().mid(1, 7));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->decimals, 1);
    EXPECT_DOUBLE_EQ(p->gross, 12.5);
    bridge->stopProcessChannel();

    EXPECT_EQ(ask("FL 3\r"), "OK");

    ASSERT_EQ(bus.sim->control("can delay 1500"), "ok");
    EXPECT_EQ(ask("FL 4\r"), "TimeOutErr\r");
    ASSERT_EQ(bus.sim->control("can delay 0"), "ok");
    EXPECT_EQ(ask("FL 99\r"), "ERR");
    EXPECT_EQ(ask("FL\r"), "F+00004\r");

    ASSERT_EQ(bus.sim->control("can delay 1500"), "ok");
    EXPECT_EQ(ask("FL 5\r"), "TimeOutErr\r");
    ASSERT_EQ(bus.sim->control("can delay 0"), "ok");
    EXPECT_EQ(ask("FL\r"), "F+00005\r");

    // Node 2 answers the same object first (0x582 43 00 21 04, value 9).
    ASSERT_EQ(bus.sim->control("can delay 300"), "ok");
    ASSERT_TRUE(bus.put(0x582, QByteArray::fromHex("4300210409000000")));
    EXPECT_EQ(ask("FL\r"), "F+00005\r");
    ASSERT_EQ(bus.sim->control("can delay 0"), "ok");
}
