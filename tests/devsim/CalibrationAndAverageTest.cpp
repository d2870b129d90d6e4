// The simulated transmitter's calibration and averages, as a host on its line sees them.
#include "SimProbe.h"

#include <engine/Device.h>
#include <engine/Line.h>

#include <gtest/gtest.h>

using devsim::DeviceConfig;
using devsim::Line;
using devsim::test::HostSide;
using devsim::test::ScopedTimeScale;

namespace {

constexpr int fast = 115200;

QByteArray code(HostSide& host) {
    const QByteArray reply = host.ask("CE\r", fast);
    return reply.startsWith("E+") ? reply.mid(2, 5) : QByteArray();
}

QList<QByteArray> linesOf(const QByteArray& bytes) {
    QList<QByteArray> lines = bytes.split('\r');
    lines.removeLast();
    return lines;
}

} // namespace

TEST(SimulatedCalibration, EachProtectedCommandNeedsAFreshHandshakeAStillSignalAndOnlyCsStoresIt) {
    ScopedTimeScale scale(0.1);
    Line line;
    DeviceConfig config;
    config.identity = 4113;
    config.weight = 2.5; // the cell's dead load
    config.resetMs = 50;
    devsim::Device* device = line.addDevice(config);
    HostSide host(line);
    auto ask = [&](const QByteArray& command) { return host.ask(command, fast); };

    EXPECT_EQ(ask("CZ\r"), "ERR\r");
    const QByteArray first = code(host);
    ASSERT_EQ(first.size(), 5);
    EXPECT_EQ(ask("CE\r"), "E+" + first + "\r"); // the same until it is tried
    EXPECT_EQ(ask("CE" + first + "\r"), "OK\r");
    EXPECT_EQ(ask("CZ\r"), "OK\r");
    EXPECT_EQ(ask("CZ\r"), "ERR\r"); // one command per handshake
    const QByteArray second = code(host);
    EXPECT_NE(second, first);
    EXPECT_EQ(ask("CE" + first + "\r"), "ERR\r"); // a kept code is refused

    // 50.0 put on the cell: moving at first, so no gain; once still, 1000 counts for it.
    device->setWeight(52.5);
    EXPECT_EQ(ask("CE" + second + "\r"), "OK\r");
    EXPECT_EQ(ask("CG1000\r"), "ERR\r");
    devsim::test::waitUntil([] { return false; }, 40);
    EXPECT_EQ(ask("CE" + code(host) + "\r"), "OK\r");
    EXPECT_EQ(ask("CG1000\r"), "OK\r");
    EXPECT_EQ(ask("GG\r"), "G+0100.0\r");
    EXPECT_EQ(ask("AZ\r"), "Z+00025\r");
    EXPECT_EQ(ask("AG\r"), "G+20000\r");

    // "WP" does not keep a calibration over a reset; "CS" does.
    EXPECT_EQ(ask("WP\r"), "OK\r");
    EXPECT_EQ(ask("SR\r"), "OK\r");
    ASSERT_TRUE(devsim::test::waitUntil([&] { return !device->isResetting(); }, 1000));
    EXPECT_EQ(ask("GG\r"), "G+0052.5\r");
    for (const QByteArray& command : {QByteArray("CG1000\r"), QByteArray("DP2\r")}) {
        if (command.startsWith("CG")) {
            device->setWeight(2.5);
            devsim::test::waitUntil([] { return false; }, 40);
            EXPECT_EQ(ask("CE" + code(host) + "\r"), "OK\r");
            EXPECT_EQ(ask("CZ\r"), "OK\r");
            device->setWeight(52.5);
            devsim::test::waitUntil([] { return false; }, 40);
            EXPECT_EQ(ask("CE" + code(host) + "\r"), "OK\r");
        }
        EXPECT_EQ(ask(command), "OK\r");
    }
    EXPECT_EQ(ask("CS\r"), "ERR\r");
    EXPECT_EQ(ask("CE" + code(host) + "\r"), "OK\r");
    EXPECT_EQ(ask("CS\r"), "OK\r");
    EXPECT_EQ(ask("SR\r"), "OK\r");
    ASSERT_TRUE(devsim::test::waitUntil([&] { return !device->isResetting(); }, 1000));
    EXPECT_EQ(ask("GG\r"), "G+010.00\r");

    // A signal that never settles takes no zero.
    device->setSettleMs(-1);
    EXPECT_EQ(ask("IS\r"), "S:000000\r");
    EXPECT_EQ(ask("CE" + code(host) + "\r"), "OK\r");
    EXPECT_EQ(ask("CZ\r"), "ERR\r");
}

TEST(SimulatedAverages, AWeighingProfileSendsEachResultOnceAndGaSaysNotReadyWhileAnItemIsWeighed) {
    ScopedTimeScale scale(0.1);
    Line line;
    DeviceConfig config;
    config.identity = 4313;
    config.decimals = 2;
    config.updateMs = 20;
    config.profile.kind = devsim::WeightProfile::Kind::CheckWeigher;
    config.profile.load = 10.0;
    config.profile.periodMs = 1000;
    devsim::Device* device = line.addDevice(config);
    HostSide host(line);

    // Polled: "+999.99" while an item is on its way, then its result until the next one comes.
    QList<QByteArray> polled;
    for (int i = 0; i < 40; ++i) {
        polled << host.ask("GA\r", fast);
        devsim::test::waitUntil([] { return false; }, 5);
    }
    int results = 0;
    for (qsizetype i = 1; i < polled.size(); ++i) {
        ASSERT_TRUE(polled[i].startsWith("A+")) << polled[i].constData();
        if (polled[i] != "A+999.99\r" && polled[i - 1] == "A+999.99\r") {
            ++results;
            EXPECT_NEAR(polled[i].mid(2, 6).toDouble(), 10.0, 0.31) << polled[i].constData();
        }
    }
    EXPECT_GE(results, 1);
    EXPECT_GE(polled.count("A+999.99\r"), 2);

    // Streamed: each result once, not at the update rate.
    host.clear();
    line.hostWrite("SA\r", fast);
    devsim::test::waitUntil([] { return false; }, 350);
    const QList<QByteArray> streamed = linesOf(host.bytes());
    ASSERT_GE(streamed.size(), 3);
    EXPECT_EQ(streamed.first(), "OK");
    EXPECT_LE(streamed.size(), 1 + 4); // 3.5 items at most, where 20 ms lines would be 175
    host.clear();
    line.hostWrite("GG\r", fast);
    // An empty belt's noise may read just below zero.
    ASSERT_TRUE(devsim::test::waitUntil(
        [&] { return host.bytes().contains("G+") || host.bytes().contains("G-"); }, 2000))
        << host.bytes().constData();
    devsim::test::waitUntil([] { return false; }, 20);
    host.clear();
    devsim::test::waitUntil([] { return false; }, 250);
    EXPECT_TRUE(host.bytes().isEmpty()) << "a read ends the average sending";

    // Answers queued on the control channel come first.
    device->queueAverageReplies({"+88888", "+012.34"});
    EXPECT_EQ(host.ask("GA\r", fast), "A+88888\r");
    EXPECT_EQ(host.ask("GA\r", fast), "A+012.34\r");
}
