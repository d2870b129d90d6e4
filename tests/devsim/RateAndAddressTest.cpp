#include "SimProbe.h"

#include <engine/Device.h>
#include <engine/Line.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>

using devsim::DeviceConfig;
using devsim::Line;
using devsim::test::HostSide;
using devsim::test::ScopedTimeScale;

namespace {

TEST(RateMatching, NoAnswerAtTheWrongRate) {
    Line line;
    DeviceConfig config;
    config.baud = 38400;
    line.addDevice(config);
    HostSide host(line);
    EXPECT_EQ(host.ask("ID\r", 115200, 100), "");
    EXPECT_EQ(host.ask("ID\r", 38400), "D:4110\r");
}

TEST(RateMatching, WhatTheDeviceSendsAtAnotherRateIsGarbageWithoutCarriageReturn) {
    Line line;
    line.addDevice(DeviceConfig{});
    HostSide host(line);
    line.hostWrite("ID\r", 115200);
    line.setHostBaud(9600); // the host switches before the reply is on the wire
    ASSERT_TRUE(devsim::test::waitUntil([&] { return host.bytes().size() >= 7; }, 1000));
    EXPECT_EQ(host.bytes().size(), 7);
    EXPECT_FALSE(host.bytes().contains('\r'));
}

TEST(RateMatching, StoredRateTakesEffectAtTheReset) {
    ScopedTimeScale scale(0.1);
    Line line;
    devsim::Device* device = line.addDevice(DeviceConfig{});
    HostSide host(line);
    EXPECT_EQ(host.ask("DX1\r", 115200), "OK\r");
    EXPECT_EQ(host.ask("br19200\r", 115200), "OK\r");
    EXPECT_EQ(host.ask("WP\r", 115200), "OK\r");
    EXPECT_EQ(host.ask("ID\r", 115200), "D:4110\r"); // still at the old rate
    EXPECT_EQ(host.ask("SR\r", 115200), "OK\r");
    EXPECT_TRUE(device->isResetting());
    EXPECT_EQ(host.ask("ID\r", 115200, 10), ""); // silent while it restarts
    ASSERT_TRUE(devsim::test::waitUntil([&] { return !device->isResetting(); }, 1000));
    EXPECT_EQ(host.ask("ID\r", 115200, 100), "");
    EXPECT_EQ(host.ask("br19200\r", 19200), "OK\r");
    EXPECT_EQ(host.ask("DX\r", 19200), "X:001\r");

    const QList<Line::Received> lines = line.receivedLines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], (Line::Received{"DX1\r", 115200}));
    EXPECT_EQ(lines[1], (Line::Received{"br19200\r", 115200}));
    EXPECT_EQ(lines[2], (Line::Received{"WP\r", 115200}));
}

TEST(RateMatching, AResetStopsTheStream) {
    ScopedTimeScale scale(0.05);
    Line line;
    devsim::Device* device = line.addDevice(DeviceConfig{});
    HostSide host(line);
    line.hostWrite("SG\r", 115200);
    ASSERT_TRUE(host.waitLines(2, 1000));
    line.hostWrite("SR\r", 115200);
    ASSERT_TRUE(devsim::test::waitUntil([&] { return !device->isResetting(); }, 1000));
    EXPECT_EQ(device->stream(), devsim::Device::Stream::None);
    host.clear();
    devsim::test::waitUntil([] { return false; }, 50);
    EXPECT_EQ(host.bytes(), "");
}

struct TwoDevices : ::testing::Test {
    TwoDevices() {
        DeviceConfig a;
        a.identity = 4113;
        a.address = 7;
        DeviceConfig b;
        b.identity = 4114;
        b.address = 3;
        line.addDevice(a);
        line.addDevice(b);
    }
    Line line;
    HostSide host{line};
};

TEST_F(TwoDevices, AddressedDevicesWaitForOpAtTheirOwnRate) {
    EXPECT_EQ(host.ask("ID\r", 115200, 100), "");
    // "OP" at another rate is noise to both devices.
    EXPECT_EQ(host.ask("OP03\r", 19200, 100), "");
    EXPECT_EQ(host.ask("ID\r", 115200, 100), "");
    EXPECT_EQ(host.ask("OP03\r", 115200), "OK\r");
    EXPECT_EQ(host.ask("ID\r", 115200), "D:4114\r");
}

TEST_F(TwoDevices, OpSelectsOneDeviceInEitherSpellingAndClClosesIt) {
    EXPECT_EQ(host.ask("OP07\r", 115200), "OK\r");
    EXPECT_EQ(host.ask("ID\r", 115200), "D:4113\r");
    EXPECT_EQ(host.ask("OP3\r", 115200), "OK\r");
    EXPECT_EQ(host.ask("ID\r", 115200), "D:4114\r");
    EXPECT_EQ(host.ask("CL03\r", 115200), "OK\r");
    EXPECT_EQ(host.ask("ID\r", 115200, 100), "");
    // "CL" for one device leaves another one open.
    EXPECT_EQ(host.ask("OP07\r", 115200), "OK\r");
    EXPECT_EQ(host.ask("CL03\r", 115200), "OK\r");
    EXPECT_EQ(host.ask("ID\r", 115200), "D:4113\r");
}

TEST_F(TwoDevices, AnAbsentAddressLeavesTheLineSilent) {
    EXPECT_EQ(host.ask("OP05\r", 115200, 100), "");
    EXPECT_EQ(host.ask("ID\r", 115200, 100), "");
    // Only one device answers at a time, never both.
    EXPECT_EQ(host.ask("OP03\r", 115200), "OK\r");
    host.clear();
    line.hostWrite("ID\r", 115200);
    devsim::test::waitUntil([] { return false; }, 50);
    EXPECT_EQ(host.bytes(), "D:4114\r");
}

TEST(WireTime, NoAnswerArrivesBeforeItsBytesCouldHaveCrossedTheWire) {
    // Twenty questions in a row at 9600 baud: each answer only once the question's last bit is in, the
    // device has taken its time to answer, and the answer's own bytes are through.
    Line line;
    DeviceConfig config;
    config.baud = 9600;
    line.addDevice(config);
    line.setWireTime(true);
    line.setLatencyMs(2);
    HostSide host(line);
    const qint64 byteNs = Line::byteNs(9600);
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(host.ask("ID\r", 9600), "D:4110\r") << i;
        EXPECT_GE(clock.nsecsElapsed(), 3 * byteNs + 2'000'000 + 7 * byteNs) << i;
    }
}

TEST(ReceivedLog, KeepsBytesAndRates) {
    Line line;
    line.addDevice(DeviceConfig{});
    line.hostWrite("\r", 9600);
    line.hostWrite("br9", 9600);
    line.hostWrite("600\rID", 115200);
    EXPECT_EQ(line.receivedLog().size(), 3);
    EXPECT_EQ(line.receivedLog()[1], (Line::Received{"br9", 9600}));
    const QList<QByteArray> expected{"\r", "br9600\r", "ID"};
    EXPECT_EQ(line.receivedTexts(), expected);
    EXPECT_EQ(line.receivedLines()[1].baud, 115200);
    line.clearReceived();
    EXPECT_TRUE(line.receivedLog().isEmpty());
}

} // namespace
