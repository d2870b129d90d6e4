// The simulator's weight profiles at the engine: what a recording through the programs cannot show
// (exact repetition for a seed, the no-motion bit, the range words).
#include "SimProbe.h"

#include <engine/Device.h>
#include <engine/Line.h>
#include <engine/WeightProfile.h>

#include <gtest/gtest.h>

#include <set>

using devsim::DeviceConfig;
using devsim::Line;
using devsim::WeightProfile;
using devsim::test::HostSide;

namespace {

WeightProfile::Settings settingsFor(WeightProfile::Kind kind, quint32 seed = 1) {
    WeightProfile::Settings s;
    s.kind = kind;
    s.seed = seed;
    return s;
}

TEST(WeightProfiles, TheSameSeedGivesTheSameValuesAndNoiseStaysWithinItsAmplitude) {
    for (const auto kind : {WeightProfile::Kind::Noise, WeightProfile::Kind::Step,
                            WeightProfile::Kind::Filling, WeightProfile::Kind::CheckWeigher}) {
        SCOPED_TRACE(int(kind));
        const WeightProfile first(settingsFor(kind, 7), 1);
        const WeightProfile again(settingsFor(kind, 7), 1);
        const WeightProfile other(settingsFor(kind, 8), 1);
        int differences = 0;
        for (qint64 ms = 0; ms < 12000; ms += 7) {
            ASSERT_EQ(first.weightAt(ms), again.weightAt(ms)) << ms;
            ASSERT_EQ(first.stateAt(ms), again.stateAt(ms)) << ms;
            differences += first.weightAt(ms) != other.weightAt(ms);
        }
        EXPECT_GT(differences, 100);
    }

    WeightProfile::Settings noisy = settingsFor(WeightProfile::Kind::Noise);
    noisy.amplitude = 4;
    const WeightProfile noise(noisy, 1);
    std::set<qint64> seen;
    for (qint64 ms = 0; ms < 20000; ms += 3) {
        const qint64 w = noise.weightAt(ms);
        ASSERT_LE(std::abs(w), 4) << ms;
        seen.insert(w);
        EXPECT_FALSE(noise.movingAt(ms, 300, 2)) << "noise is no motion";
    }
    EXPECT_EQ(seen.size(), 9u); // -4 .. +4
    EXPECT_EQ(WeightProfile(settingsFor(WeightProfile::Kind::Constant), 1).weightAt(1234), 0);
}

TEST(WeightProfiles, NoMotionClearsWhileTheLoadMovesAndTheResultIsTheLastFilledWeight) {
    // step, 4000 ms: empty until 1000, the load settles by 1300 and is held until 3000.
    const WeightProfile step(settingsFor(WeightProfile::Kind::Step), 1);
    EXPECT_FALSE(step.movingAt(900, 300, 2));
    EXPECT_TRUE(step.movingAt(1100, 300, 2));
    EXPECT_TRUE(step.movingAt(1300, 300, 2));
    EXPECT_FALSE(step.movingAt(2000, 300, 2));
    EXPECT_TRUE(step.movingAt(3100, 300, 2));
    EXPECT_FALSE(step.movingAt(3900, 300, 2));
    // A wider no-motion range takes the settling tail for stillness sooner.
    EXPECT_TRUE(step.movingAt(1550, 300, 2));
    EXPECT_FALSE(step.movingAt(1550, 300, 50));

    // filling, 5000 ms: coarse fill, read the filled weight, discharge, taring the next hopper.
    const WeightProfile filling(settingsFor(WeightProfile::Kind::Filling), 1);
    EXPECT_EQ(filling.stateAt(2000), 4);
    EXPECT_TRUE(filling.movingAt(2000, 300, 2));
    EXPECT_EQ(filling.stateAt(4300), 7);
    EXPECT_FALSE(filling.movingAt(4300, 300, 2));
    EXPECT_EQ(filling.stateAt(4600), 0);
    EXPECT_TRUE(filling.movingAt(4600, 300, 2));
    EXPECT_EQ(filling.stateAt(5900), 2);
    EXPECT_FALSE(filling.movingAt(5900, 300, 2));
    // An average or dosed-weight read gives the target until a weight was read, then that weight.
    EXPECT_EQ(filling.resultAt(3000), 1000);
    const qint64 filled = filling.resultAt(4300);
    EXPECT_NEAR(double(filled), 1000.0, 4.0);
    EXPECT_NEAR(double(filling.weightAt(4300)), double(filled), 2.0 + 1.0);
    EXPECT_EQ(filling.resultAt(6000), filled);
}

TEST(WeightProfiles, RangeBitsAndWordsFollowTheWeight) {
    Line line;
    DeviceConfig config;
    config.weight = 40.0;
    config.profile.kind = WeightProfile::Kind::Noise;
    config.profile.amplitude = 0;
    devsim::Device* device = line.addDevice(config);
    HostSide host(line);
    EXPECT_EQ(host.ask("GG\r", 115200), "G+0040.0\r");
    EXPECT_EQ(host.ask("IS\r", 115200), "S:001000\r");
    // Beyond the calibrated maximum the device cannot measure.
    EXPECT_EQ(host.ask("CM350\r", 115200), "OK\r");
    EXPECT_EQ(host.ask("GG\r", 115200), "Gooooooo\r");
    EXPECT_EQ(host.ask("GN\r", 115200), "Nooooooo\r");
    EXPECT_EQ(host.ask("IS\r", 115200), "S:003000\r");
    QByteArray packet = host.ask("GP\r", 115200);
    ASSERT_EQ(packet.size(), 9);
    EXPECT_EQ(quint8(packet[1]) & 0x70, 0x60); // no motion, over range
    device->setWeight(-40.0);
    EXPECT_EQ(host.ask("GG\r", 115200), "Guuuuuuu\r");
    EXPECT_EQ(host.ask("IS\r", 115200).mid(2, 3).toInt() & 6, 4);
    packet = host.ask("GP\r", 115200);
    ASSERT_EQ(packet.size(), 9);
    EXPECT_EQ(quint8(packet[1]) & 0x30, 0x10);
    device->setWeight(12.5);
    EXPECT_EQ(host.ask("GG\r", 115200), "G+0012.5\r");
    // The line's injected range fault still wins.
    line.setFault(Line::Fault::Overrange);
    EXPECT_EQ(host.ask("GG\r", 115200), "Gooooooo\r");
}

} // namespace
