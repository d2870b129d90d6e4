#include "SimProbe.h"

#include <engine/ControlChannel.h>
#include <engine/Device.h>
#include <engine/Line.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>

using devsim::DeviceConfig;
using devsim::Line;
using devsim::test::HostSide;

namespace {

struct Faults : ::testing::Test {
    Faults() { line.addDevice(DeviceConfig{}); }
    Line line;
    HostSide host{line};
};

TEST_F(Faults, SilentLineHearsAndSendsNothingButLogsWhatCame) {
    line.setFault(Line::Fault::Silent);
    EXPECT_EQ(host.ask("ID\r", 115200, 100), "");
    EXPECT_EQ(line.receivedTexts().back(), "ID\r");
    line.setFault(Line::Fault::None);
    EXPECT_EQ(host.ask("ID\r", 115200), "D:4110\r");
}

TEST_F(Faults, LateRepliesComeLate) {
    line.setFault(Line::Fault::Late, 150);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(host.ask("ID\r", 115200, 100), "");
    EXPECT_TRUE(host.waitLines(1, 1000));
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_EQ(host.bytes(), "D:4110\r");
}

TEST_F(Faults, ErrRefusesEveryCommand) {
    line.setFault(Line::Fault::Err);
    EXPECT_EQ(host.ask("ID\r", 115200), "ERR\r");
    EXPECT_EQ(host.ask("SR\r", 115200), "ERR\r");
    EXPECT_FALSE(line.devices().front()->isResetting());
}

TEST_F(Faults, GarbageHasNoCarriageReturn) {
    line.setFault(Line::Fault::Garbage);
    line.hostWrite("ID\r", 115200);
    ASSERT_TRUE(devsim::test::waitUntil([&] { return host.bytes().size() >= 7; }, 1000));
    EXPECT_FALSE(host.bytes().contains('\r'));
    EXPECT_NE(host.bytes(), "D:4110\r");
}

TEST_F(Faults, OverlongHitsOnlyTheNextReply) {
    line.setFault(Line::Fault::Overlong);
    const QByteArray reply = host.ask("ID\r", 115200);
    EXPECT_EQ(reply.size(), 5001);
    EXPECT_TRUE(reply.startsWith("D:4110D:4110"));
    EXPECT_EQ(line.fault(), Line::Fault::None);
    EXPECT_EQ(host.ask("ID\r", 115200), "D:4110\r");
}

TEST(ControlChannel, CommandsAndErrors) {
    Line line;
    DeviceConfig config;
    config.address = 5;
    devsim::Device* device = line.addDevice(config);
    devsim::ControlChannel control({&line});
    EXPECT_EQ(control.execute("fault 1 late 200"), "ok");
    EXPECT_EQ(line.fault(), Line::Fault::Late);
    EXPECT_EQ(control.execute("fault 1 overrange"), "ok");
    EXPECT_EQ(line.fault(), Line::Fault::Overrange);
    EXPECT_EQ(control.execute("fault 1 none"), "ok");
    EXPECT_EQ(control.execute("weight 1 5 12.5"), "ok");
    EXPECT_EQ(device->grossCounts(), 125);
    EXPECT_EQ(control.execute("identity 1 5 4313"), "ok");
    EXPECT_EQ(device->identity(), 4313);
    EXPECT_EQ(control.execute("profile 1 5 Step load=50 period=2000 settle=400 amplitude=0 seed=9"), "ok");
    EXPECT_EQ(device->profile().kind(), devsim::WeightProfile::Kind::Step);
    EXPECT_EQ(device->profile().settings().periodMs, 2000);
    EXPECT_EQ(device->profile().settings().seed, 9u);
    EXPECT_EQ(control.execute("profile 1 5 filling"), "ok");
    EXPECT_EQ(device->profile().settings().periodMs, 0) << "keys not given take their defaults";
    EXPECT_EQ(control.execute("profile 1 5 wobble"), "error: unknown profile wobble");
    EXPECT_EQ(control.execute("profile 1 5 step colour=red"), "error: unknown profile key \"colour=red\"");
    EXPECT_EQ(control.execute("profile 1 5 step profile=noise"),
              "error: unknown profile key \"profile=noise\"");
    EXPECT_EQ(control.execute("profile 1 5 step load=nan"), "error: bad value for load: \"nan\"");
    EXPECT_EQ(control.execute("profile 1 5 step period=1000 settle=600"),
              "error: settle (600 ms) must be at most half the period (1000 ms)");
    EXPECT_EQ(control.execute("weight 1 5 inf"), "error: not a number: inf");
    EXPECT_EQ(control.execute("nomotion 1 5 never"), "ok");
    EXPECT_FALSE(device->noMotion());
    EXPECT_EQ(control.execute("nomotion 1 5 0"), "ok");
    EXPECT_TRUE(device->noMotion());
    EXPECT_EQ(control.execute("nomotion 1 5 soon"), "error: usage: nomotion LINE ADDR MS|never");
    EXPECT_EQ(control.execute("refuse 1 5 CZ,SA"), "ok");
    EXPECT_EQ(control.execute("refuse 1 5 none"), "ok");
    EXPECT_EQ(control.execute("averages 1 5 +99999 +012.34"), "ok");
    EXPECT_EQ(control.execute("averages 1 5 12.34"), "error: not a value: 12.34");
    EXPECT_EQ(control.execute("averages 1 5"), "error: usage: averages LINE ADDR VALUE [VALUE ...]");
    EXPECT_EQ(device->profile().kind(), devsim::WeightProfile::Kind::Filling)
        << "a refused command changes nothing";
    EXPECT_TRUE(control.execute("fault 2 err").startsWith("error: "));
    EXPECT_TRUE(control.execute("fault 1 late").startsWith("error: "));
    EXPECT_TRUE(control.execute("fault 1 wobble").startsWith("error: "));
    EXPECT_TRUE(control.execute("weight 1 6 1").startsWith("error: "));
    EXPECT_TRUE(control.execute("dance").startsWith("error: "));
    bool quit = false;
    QObject::connect(&control, &devsim::ControlChannel::quitRequested, [&] { quit = true; });
    EXPECT_EQ(control.execute("quit"), "ok");
    EXPECT_TRUE(quit);
}

TEST(DeviceText, ParsesEveryKey) {
    DeviceConfig config;
    int lineNumber = 0;
    QString error;
    ASSERT_TRUE(
        DeviceConfig::fromText("line=2,id=4114,fw=2.10,addr=5,baud=38400,duplex=0,decimals=2,weight=123.4,"
                               "update=50,pupdate=10,tare=1,profile=checkweigher,load=25.5,amplitude=4,"
                               "period=1200,settle=250,seed=3,nomotion=never",
                               &config, &lineNumber, &error))
        << error.toStdString();
    EXPECT_EQ(lineNumber, 2);
    EXPECT_EQ(config.identity, 4114);
    EXPECT_EQ(config.firmware, "2.10");
    EXPECT_EQ(config.address, 5);
    EXPECT_EQ(config.baud, 38400);
    EXPECT_FALSE(config.fullDuplex);
    EXPECT_EQ(config.decimals, 2);
    EXPECT_DOUBLE_EQ(config.weight, 123.4);
    EXPECT_EQ(config.updateMs, 50);
    EXPECT_EQ(config.packetUpdateMs, 10);
    EXPECT_EQ(config.profile.kind, devsim::WeightProfile::Kind::CheckWeigher);
    EXPECT_DOUBLE_EQ(config.profile.load, 25.5);
    EXPECT_EQ(config.profile.amplitude, 4);
    EXPECT_EQ(config.profile.periodMs, 1200);
    EXPECT_EQ(config.profile.settlingMs, 250);
    EXPECT_EQ(config.profile.seed, 3u);
    EXPECT_EQ(config.settleMs, -1);
    EXPECT_FALSE(DeviceConfig::fromText("baud=1234", &config, &lineNumber, &error));
    EXPECT_FALSE(DeviceConfig::fromText("addr=64", &config, &lineNumber, &error));
    EXPECT_FALSE(DeviceConfig::fromText("colour=red", &config, &lineNumber, &error));
    EXPECT_FALSE(DeviceConfig::fromText("profile=wobble", &config, &lineNumber, &error));
    EXPECT_FALSE(DeviceConfig::fromText("weight=nan", &config, &lineNumber, &error));
    EXPECT_FALSE(DeviceConfig::fromText("profile=step,settle=2500", &config, &lineNumber, &error));
    EXPECT_EQ(error, "settle (2500 ms) must be at most half the period (4000 ms)");
}

} // namespace
