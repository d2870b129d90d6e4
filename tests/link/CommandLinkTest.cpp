#include "link/CommandLink.h"
#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "link/CanExchange.h"
#include "link/ComPortMap.h"
#include "link/QtSerialPortDevice.h"
#include "support/FakeOperator.h"
#include "support/HoldUpBeforeTimers.h"
#include "support/ProgramRig.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvo;

namespace {

class CommandLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        devsim::SimulatedPorts::clear();
        devsim::DeviceConfig config;
        config.identity = 4114;
        config.baud = 9600;
        device = line.addDevice(config);
        devsim::SimulatedPorts::attach(1, &line);
        auto port = std::make_unique<devsim::SimulatedPort>();
        comm = std::make_unique<CommandLink>(std::move(port), op);
        comm->initialise(); // COM1, 9600 baud, opened
        ASSERT_TRUE(comm->port().isOpen());
    }
    void TearDown() override { devsim::SimulatedPorts::clear(); }

    QByteArray ask(const QByteArray& line, const QByteArray& start, int ms = 200) {
        return comm->sendAndReceive(1, line, ms, Framing::startingWith(start));
    }

    test::FakeOperator op;
    devsim::Line line;
    devsim::Device* device = nullptr;
    std::unique_ptr<CommandLink> comm;
};

} // namespace

TEST_F(CommandLinkTest, AnAcknowledgedCommandFramedWithOGivesK) {
    EXPECT_EQ(ask("WP\r", "O"), "K");
    EXPECT_EQ(ask("ID\r", "D:"), "4114");
    EXPECT_EQ(line.receivedTexts(), (QList<QByteArray>{"WP\r", "ID\r"}));
}

TEST_F(CommandLinkTest, ALateReplyIsNotUsedAndTheNextTransactionStartsClean) {
    line.setFault(devsim::Line::Fault::Late, 300);
    EXPECT_EQ(ask("ID\r", "D:", 100), kTimeOutErr);
    line.setFault(devsim::Line::Fault::None);
    // The late "D:4114" arrives now; the next transaction must see only its own reply.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 400)
        comm->waitSlice(10);
    EXPECT_EQ(ask("IV\r", "V:"), "1.00");
    EXPECT_EQ(ask("DX\r", "X:"), "001");
}

TEST_F(CommandLinkTest, ErrAndSilenceAreReportedAsTheyAre) {
    line.setFault(devsim::Line::Fault::Err);
    // "ERR" holds no "O": a caller waiting for "K" sees its time limit pass.
    EXPECT_EQ(ask("FL 3\r", "O", 50), kTimeOutErr);
    EXPECT_EQ(comm->sendAndReceive(1, "FL 3\r", 100, Framing::anyData()), "ERR");
    line.setFault(devsim::Line::Fault::Silent);
    EXPECT_EQ(ask("FL 3\r", "O", 50), kTimeOutErr);
}

TEST_F(CommandLinkTest, NoAnswerAtAnotherRate) {
    comm->port().setBaudRate(115200);
    EXPECT_EQ(ask("ID\r", "D:", 100), kTimeOutErr);
    comm->port().setBaudRate(9600);
    EXPECT_EQ(ask("ID\r", "D:"), "4114");
}

TEST_F(CommandLinkTest, LiveVariantSendsTheCommandWithOneCarriageReturn) {
    comm->sendAndReceiveLive(1, "FL 3", 200);
    comm->sendAndReceiveLive(1, "ID+", 200);
    EXPECT_EQ(line.receivedTexts(), (QList<QByteArray>{"FL 3\r", "ID\r"}));
    // The stream matcher runs again afterwards.
    EXPECT_TRUE(comm->streamMatcher().isArmed());
    EXPECT_TRUE(comm->streamMatcher().isEnabled());
}

TEST_F(CommandLinkTest, LiveVariantFramesAnyDataUpToCarriageReturn) {
    EXPECT_EQ(comm->sendAndReceiveLive(1, "ID", 200), "D:4114");
}

TEST_F(CommandLinkTest, ReadComByteReturnsAnArrivingByteElse255AfterItsPolls) {
    comm->sendByte('U');
    // The device answers "ERR\r" to a stray "U" line only after "\r"; send one so a byte arrives.
    comm->writeRaw("\r");
    const quint8 first = comm->receiveByte(500);
    EXPECT_EQ(first, 'E');

    comm->port().clearInput();
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(comm->receiveByte(50), 255);
    EXPECT_GE(t.elapsed(), 40);
    EXPECT_LT(t.elapsed(), 1000);
}

TEST_F(CommandLinkTest, ATimerAskingDuringAWaitDoesNotStealTheReply) {
    line.setLatencyMs(60);
    QByteArray timerReply;
    bool timerRan = false;
    QTimer::singleShot(10, [&] {
        // A timer-driven caller: it must wait for the running transaction instead of taking its matcher.
        comm->runWhenIdle([&] {
            timerRan = true;
            timerReply = ask("IV\r", "V:");
        });
        EXPECT_FALSE(timerRan);
        // A direct nested call is refused without touching the waiting transaction.
        EXPECT_EQ(ask("IS\r", "S:"), kTimeOutErr);
    });
    EXPECT_EQ(ask("ID\r", "D:", 500), "4114");
    QElapsedTimer t;
    t.start();
    while (!timerRan && t.elapsed() < 1000)
        comm->waitSlice(5);
    EXPECT_TRUE(timerRan);
    EXPECT_EQ(timerReply, "1.00");
}

// The device answers in time, but this thread is held up past the time limit after the event loop last
// polled the port and before it looks at its timers: the answer is taken, not a time-out. On the
// simulated line in this process, and from the simulator program on a pseudo-terminal through the real
// serial port, where the device answers while this thread is held up. A silent device still times out.
TEST(CommandLinkHeldUp, AnAnswerThatCameInTimeIsTakenThoughTheThreadWasHeldUpPastTheLimit) {
    test::HoldUpBeforeTimers holdUp;
    if (!holdUp.available())
        GTEST_SKIP() << "Qt does not run on the glib main loop here";
    for (const bool outside : {false, true}) {
        SCOPED_TRACE(outside ? "simulator program on a pseudo-terminal" : "simulated line");
        devsim::SimulatedPorts::clear();
        devsim::Line line;
        test::SimulatorProcess simulator;
        std::unique_ptr<SerialPort> port;
        if (outside) {
            ASSERT_TRUE(simulator.start({"--device", "line=1,id=4114,baud=9600"}));
            ComPortMap map;
            map.setPath(1, simulator.linePath(1));
            port = std::make_unique<QtSerialPortDevice>(map);
        } else {
            devsim::DeviceConfig config;
            config.identity = 4114;
            config.baud = 9600;
            line.addDevice(config);
            devsim::SimulatedPorts::attach(1, &line);
            port = std::make_unique<devsim::SimulatedPort>();
        }
        test::FakeOperator op;
        CommandLink comm(std::move(port), op);
        comm.initialise();
        ASSERT_TRUE(comm.port().isOpen());

        // Armed once the command is out; the timer a millisecond later ends the next poll before the
        // device's answer (5 ms) is there.
        QTimer::singleShot(1, Qt::PreciseTimer, [&] { holdUp.arm(300); });
        QTimer::singleShot(2, Qt::PreciseTimer, [] {});
        EXPECT_EQ(comm.sendAndReceive(1, "ID\r", 100, Framing::startingWith("D:")), "4114");

        if (outside)
            ASSERT_EQ(simulator.control("fault 1 silent"), "ok");
        else
            line.setFault(devsim::Line::Fault::Silent);
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(comm.sendAndReceive(1, "IV\r", 100, Framing::startingWith("V:")), kTimeOutErr);
        EXPECT_GE(t.elapsed(), 100);
        EXPECT_LT(t.elapsed(), 1000);
        devsim::SimulatedPorts::clear();
    }
}

TEST_F(CommandLinkTest, OpeningAnAbsentPortSaysSo) {
    comm->port().close();
    comm->port().setPortNumber(3);
    EXPECT_FALSE(comm->openPort(true));
    EXPECT_EQ(op.messageBoxes(), QStringList{"COM3 not available"});
}

TEST_F(CommandLinkTest, ATransactionOnAnotherPortNumberTalksToThatPortsDevice) {
    devsim::Line other;
    devsim::DeviceConfig config;
    config.identity = 2310;
    config.baud = 9600;
    other.addDevice(config);
    devsim::SimulatedPorts::attach(2, &other);
    QList<int> moves;
    QObject::connect(comm.get(), &CommandLink::portNumberChanged, [&](int n) { moves << n; });
    // The port moves with the number; the device behind the old number hears nothing.
    line.clearReceived();
    EXPECT_EQ(comm->sendAndReceive(2, "ID\r", 500, Framing::startingWith("D:")), "2310");
    EXPECT_EQ(comm->port().portNumber(), 2);
    EXPECT_TRUE(comm->port().isOpen());
    EXPECT_TRUE(line.receivedLog().isEmpty());
    EXPECT_EQ(moves, QList<int>{2});
    // A number with no port behind it refuses the transaction with the port's text.
    EXPECT_EQ(comm->sendAndReceive(5, "ID\r", 500, Framing::startingWith("D:")), kTimeOutErr);
    EXPECT_EQ(op.messageBoxes(), QStringList{"COM5 not available"});
    EXPECT_FALSE(comm->port().isOpen());
}

TEST_F(CommandLinkTest, AnUnpluggedAdapterEndsTheWaitAndIsReported) {
    int lostPort = 0;
    QObject::connect(comm.get(), &CommandLink::portLost, [&](int n, const QString&) { lostPort = n; });
    line.setFault(devsim::Line::Fault::Silent);
    QTimer::singleShot(20, [] { devsim::SimulatedPorts::unplug(1); });
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(ask("ID\r", "D:", 5000), kTimeOutErr);
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(lostPort, 1);
    EXPECT_FALSE(comm->port().isOpen());
    EXPECT_EQ(comm->receiveByte(1000), 255);
}

namespace {

class ScriptedBridge : public CanExchange {
public:
    std::optional<QByteArray> reply;
    QList<QByteArray> asked;
    std::optional<QByteArray> exchange(const QByteArray& line) override {
        asked << line;
        return reply;
    }
};

} // namespace

TEST_F(CommandLinkTest, CanRepliesLoseOnlyTheFirstStartAndEndString) {
    ScriptedBridge bridge;
    comm->setCanExchange(&bridge);
    comm->setLinkKind(Link::Can);

    bridge.reply = QByteArray("S1:+00150\rS1:\r");
    EXPECT_EQ(ask("S1\r", "S1:"), "+00150S1:\r");
    bridge.reply = QByteArray("OK");
    EXPECT_EQ(ask("FL 3\r", "O"), "K");
    bridge.reply = QByteArray("TimeOutErr\r");
    EXPECT_EQ(ask("ID\r", "O"), kTimeOutErr);
    bridge.reply = std::nullopt;
    EXPECT_EQ(ask("ID\r", "D:"), kTimeOutErr);
    bridge.reply = QByteArray("D:\r");
    EXPECT_EQ(ask("ID\r", "D:"), kTimeOutErr); // nothing left after framing
    Framing keep = Framing::startingWith("F");
    keep.includeStrings = true;
    bridge.reply = QByteArray("F+00005\r");
    EXPECT_EQ(comm->sendAndReceive(1, "FL\r", 100, keep), "F+00005\r");

    EXPECT_EQ(bridge.asked.size(), 6);
    // Nothing went to the serial line although the port is open.
    EXPECT_TRUE(line.receivedLog().isEmpty());
}
