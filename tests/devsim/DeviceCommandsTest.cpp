#include "SimProbe.h"

#include <engine/Device.h>
#include <engine/Line.h>

#include <gtest/gtest.h>

using devsim::DeviceConfig;
using devsim::Line;
using devsim::test::HostSide;

namespace {

constexpr int fast = 115200;

struct DeviceCommands : ::testing::Test {
    DeviceCommands() {
        DeviceConfig config;
        config.identity = 4114;
        config.firmware = QStringLiteral("2.10");
        config.weight = 123.4;
        config.decimals = 1;
        config.fullDuplex = false;
        device = line.addDevice(config);
    }
    QByteArray ask(const QByteArray& command) { return host.ask(command, fast); }

    Line line;
    devsim::Device* device = nullptr;
    HostSide host{line};
};

TEST_F(DeviceCommands, IdentityVersionStatusAndDuplex) {
    EXPECT_EQ(ask("ID\r"), "D:4114\r");
    EXPECT_EQ(ask("IV\r"), "V:2.10\r");
    EXPECT_EQ(ask("IS\r"), "S:001000\r");
    EXPECT_EQ(ask("DX\r"), "X:000\r");
    EXPECT_EQ(ask("DX1\r"), "OK\r");
    EXPECT_EQ(ask("DX\r"), "X:001\r");
    EXPECT_EQ(ask("WP\r"), "OK\r");
    EXPECT_EQ(ask("G\r"), "OK\r");
    device->setIdentity(0);
    EXPECT_EQ(ask("ID\r"), "D:0000\r");
}

TEST_F(DeviceCommands, WeightsCarryTheDecimalPoint) {
    EXPECT_EQ(ask("GG\r"), "G+0123.4\r");
    device->setTare(3.4);
    EXPECT_EQ(ask("GN\r"), "N+0120.0\r");
    device->setWeight(-5);
    EXPECT_EQ(ask("GG\r"), "G-0005.0\r");
    EXPECT_EQ(ask("GD\r"), "D-0005.0\r");
    EXPECT_EQ(ask("GA\r"), "A-0005.0\r");
}

TEST_F(DeviceCommands, NoMotionComesBackAfterAWeightChange) {
    device->setWeight(200);
    EXPECT_EQ(ask("IS\r"), "S:000000\r");
    devsim::test::waitUntil([] { return false; }, 350);
    EXPECT_EQ(ask("IS\r"), "S:001000\r");
}

TEST_F(DeviceCommands, ParametersReadBackWithPrefixSignAndFiveDigits) {
    EXPECT_EQ(ask("TL 150\r"), "OK\r");
    EXPECT_EQ(ask("TL\r"), "T+00150\r");
    EXPECT_EQ(ask("FL3\r"), "OK\r");
    EXPECT_EQ(ask("FL\r"), "F+00003\r");
    EXPECT_EQ(ask("FL 4\r"), "OK\r");
    EXPECT_EQ(ask("FL\r"), "F+00004\r");
    EXPECT_EQ(ask("FL 100000\r"), "ERR\r");
    EXPECT_EQ(ask("FL -100000\r"), "ERR\r");
    EXPECT_EQ(ask("FL\r"), "F+00004\r");
    EXPECT_EQ(ask("TE1\r"), "OK\r");
    EXPECT_EQ(ask("TE\r"), "E:001\r"); // the edge reads back as three digits
    EXPECT_EQ(ask("HT\r").left(2), "H+");
    EXPECT_EQ(ask("S1 -150\r"), "OK\r");
    EXPECT_EQ(ask("S1\r"), "S1:-00150\r");
    EXPECT_EQ(ask("A3\r"), "A3:+00000\r");
    EXPECT_EQ(ask("PD12 777\r"), "OK\r");
    EXPECT_EQ(ask("PD12\r"), "P12:+00777\r");
    EXPECT_EQ(ask("PL1\r"), "P1:+00001\r");
    EXPECT_EQ(ask("PL6\r"), "ERR\r");
    EXPECT_EQ(ask("S4\r"), "ERR\r");
}

TEST_F(DeviceCommands, ActionsConfirmAndUnknownCommandsAreRefused) {
    for (const char* command : {"SC\r", "LC16\r", "TG1\r", "SS\r", "SD\r"})
        EXPECT_EQ(ask(command), "OK\r") << command;
    EXPECT_EQ(ask("CZ\r"), "ERR\r"); // a calibration command needs the handshake first
    EXPECT_EQ(ask("XY\r"), "ERR\r");
    EXPECT_EQ(ask("ID+\r"), "ERR\r");
    EXPECT_EQ(ask("FL 3x\r"), "ERR\r");
    EXPECT_EQ(ask("br1234\r"), "ERR\r");
}

TEST_F(DeviceCommands, AnEmptyLineIsIgnored) {
    EXPECT_EQ(host.ask("\r", fast, 100), "");
    EXPECT_EQ(ask("\rID\r"), "D:4114\r");
}

TEST_F(DeviceCommands, FactoryDefaultsNeedTheCeHandshake) {
    EXPECT_EQ(ask("FL 7\r"), "OK\r");
    EXPECT_EQ(ask("FD\r"), "ERR\r");
    const QByteArray code = ask("CE\r");
    ASSERT_TRUE(code.startsWith("E+"));
    ASSERT_EQ(code.size(), 8);
    EXPECT_EQ(ask("CE" + code.mid(2, 5) + "\r"), "OK\r");
    EXPECT_EQ(ask("FD\r"), "OK\r");
    EXPECT_EQ(ask("FL\r"), "F+00003\r");
    EXPECT_EQ(ask("ID\r"), "D:4114\r");
}

TEST_F(DeviceCommands, AWrongCodeIsRefused) {
    const int wrong = (device->unlockCode() + 1) % 100000;
    EXPECT_EQ(ask("CE" + QByteArray::number(wrong) + "\r"), "ERR\r");
    EXPECT_EQ(ask("FD\r"), "ERR\r");
}

} // namespace
