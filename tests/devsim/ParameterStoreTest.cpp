// The simulated transmitter's configuration parameters: the command set's ranges, the store commands
// that keep them over a reset, and the filter commands each model knows.
#include "SimProbe.h"

#include <engine/Device.h>
#include <engine/Line.h>

#include <gtest/gtest.h>

using devsim::DeviceConfig;
using devsim::Line;
using devsim::test::HostSide;
using devsim::test::ScopedTimeScale;
using devsim::test::waitUntil;

namespace {

constexpr int fast = 115200;

struct ParameterStore : ::testing::Test {
    devsim::Device* add(int identity) {
        DeviceConfig config;
        config.identity = identity;
        config.resetMs = 100;
        return line.addDevice(config);
    }
    QByteArray ask(const QByteArray& command) { return host.ask(command, fast); }
    void reset(devsim::Device* device) {
        ASSERT_EQ(ask("SR\r"), "OK\r");
        ASSERT_TRUE(waitUntil([device] { return !device->isResetting(); }, 3000));
    }

    ScopedTimeScale scale{0.2};
    Line line;
    HostSide host{line};
};

} // namespace

TEST_F(ParameterStore, ValuesOutsideTheCommandSetsRangesAreRefused) {
    add(4114);
    struct Case {
        QByteArray line;
        QByteArray reply;
    };
    const Case cases[] = {
        {"SD 500\r", "OK\r"},     {"SD 501\r", "ERR\r"},    {"MT -1\r", "ERR\r"},   {"TL 99999\r", "OK\r"},
        {"TL 100000\r", "ERR\r"}, {"RW 65536\r", "ERR\r"},  {"HT 65535\r", "OK\r"}, {"S0 -99999\r", "OK\r"},
        {"H1 100000\r", "ERR\r"}, {"A1 2\r", "ERR\r"},      {"TE1\r", "OK\r"},      {"TE2\r", "ERR\r"},
        {"PD1 3\r", "OK\r"},      {"PD1 4\r", "ERR\r"},     {"PD2 51\r", "ERR\r"},  {"PD9 65535\r", "OK\r"},
        {"PD9 70000\r", "ERR\r"}, {"PD16 99999\r", "OK\r"}, {"PL2 50\r", "OK\r"},   {"PL5 65536\r", "ERR\r"},
        {"SD abc\r", "ERR\r"},    {"PD7 \r", "ERR\r"},      {"UR 8\r", "ERR\r"},    {"FL 9\r", "ERR\r"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ask(c.line), c.reply) << c.line.toStdString();
    EXPECT_EQ(ask("PD9\r"), "P9:+65535\r");
    EXPECT_EQ(ask("S0\r"), "S0:-99999\r");
}

TEST_F(ParameterStore, OnlyStoredGroupsSurviveAReset) {
    devsim::Device* device = add(4114);
    ASSERT_EQ(ask("PD3 250\r"), "OK\r");
    ASSERT_EQ(ask("PL3 40\r"), "OK\r");
    ASSERT_EQ(ask("S1 1200\r"), "OK\r");
    ASSERT_EQ(ask("TL 300\r"), "OK\r");
    ASSERT_EQ(ask("FL 5\r"), "OK\r");
    // The dosing store keeps the dosing parameters and nothing else.
    ASSERT_EQ(ask("SD\r"), "OK\r");
    EXPECT_EQ(device->storedParameter("PD3"), 250);
    EXPECT_EQ(device->storedParameter("TL"), 150);
    reset(device);
    EXPECT_EQ(ask("PD3\r"), "P3:+00250\r");
    EXPECT_EQ(ask("PL3\r"), "P3:+00000\r");
    EXPECT_EQ(ask("S1\r"), "S1:+00000\r");
    EXPECT_EQ(ask("TL\r"), "T+00150\r");
    EXPECT_EQ(ask("FL\r"), "F+00003\r");

    // "WP" keeps the general and check-weigher settings, "SS" the setpoints, "SL" the loss weigher's.
    for (const QByteArray& l :
         {QByteArray("PL3 40\r"), QByteArray("S1 1200\r"), QByteArray("TL 300\r"), QByteArray("FL 5\r"),
          QByteArray("WP\r"), QByteArray("SS\r"), QByteArray("SL\r")})
        ASSERT_EQ(ask(l), "OK\r") << l.toStdString();
    reset(device);
    EXPECT_EQ(ask("PL3\r"), "P3:+00040\r");
    EXPECT_EQ(ask("S1\r"), "S1:+01200\r");
    EXPECT_EQ(ask("TL\r"), "T+00300\r");
    EXPECT_EQ(ask("FL\r"), "F+00005\r");
}

TEST_F(ParameterStore, FilterCommandsFollowTheModel) {
    struct Case {
        int identity;
        QByteArray highestIndex; // accepted
        QByteArray beyond;       // refused
        bool modeAndRate;
    };
    const Case cases[] = {
        {2110, "FL7\r", "FL8\r", false},   {2310, "FL17\r", "FL18\r", false},
        {4110, "FL23\r", "FL24\r", false}, {4113, "FL 8\r", "FL 9\r", true},
        {4310, "FL 8\r", "FL 9\r", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identity);
        Line own;
        DeviceConfig config;
        config.identity = c.identity;
        own.addDevice(config);
        HostSide probe(own);
        EXPECT_EQ(probe.ask(c.highestIndex, fast), "OK\r");
        EXPECT_EQ(probe.ask(c.beyond, fast), "ERR\r");
        EXPECT_EQ(probe.ask("FL 0\r", fast), "OK\r");
        EXPECT_EQ(probe.ask("FL\r", fast), "F+00000\r");
        EXPECT_EQ(probe.ask("FM 1\r", fast), c.modeAndRate ? "OK\r" : "ERR\r");
        EXPECT_EQ(probe.ask("UR\r", fast), c.modeAndRate ? "U+00005\r" : "ERR\r");
    }
    // The 61xx filters IIR only; the 43xx list their configuration.
    Line rhn;
    DeviceConfig config;
    config.identity = 6110;
    rhn.addDevice(config);
    HostSide probe(rhn);
    EXPECT_EQ(probe.ask("FM 0\r", fast), "ERR\r");
    EXPECT_EQ(probe.ask("UR 7\r", fast), "OK\r");
    EXPECT_EQ(probe.ask("LI\r", fast), "TCW6110 FM0 FL3 UR7 TL150\r");
}
