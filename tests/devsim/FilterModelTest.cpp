// The simulator's filter model: with "filter=on" the filter setting the device holds decides how its
// weight settles and how much noise gets through, exactly as the model's own figures say, so that a
// search for the best setting has a known answer. Without it a profile keeps its own settling and noise.
#include <engine/Device.h>
#include <engine/FilterModel.h>

#include "measure/SpanStatistics.h"

#include <gtest/gtest.h>

using devsim::Device;
using devsim::DeviceConfig;
using devsim::FilterModel;
using devsim::FilterResponse;

namespace {

DeviceConfig stepDevice(bool filterModel) {
    DeviceConfig config;
    QString error;
    int line = 0;
    EXPECT_TRUE(DeviceConfig::fromText("id=6110,profile=step,load=1000,amplitude=40,period=40000,settle=300",
                                       &config, &line, &error))
        << error.toStdString();
    config.filterModel = filterModel;
    return config;
}

} // namespace

TEST(FilterModel, TheHeldSettingShapesTheProfileAsTheModelSaysAndOnlyWhenAsked) {
    Device device(stepDevice(true));
    device.receive("UR 0\r");
    double previousSettling = 0;
    double previousNoise = 1e9;
    for (int level = 1; level <= 8; ++level) {
        SCOPED_TRACE(level);
        device.receive("FL " + QByteArray::number(level) + "\r");
        ASSERT_EQ(device.parameter("FL"), level);
        const FilterResponse r = FilterModel::response(6110, 0, level, 0, 40);
        EXPECT_EQ(device.profile().settings().settlingMs, r.settlingMs);
        EXPECT_EQ(device.profile().settings().amplitude, r.noiseAmplitude);
        // A stronger filter: slower and quieter.
        const double settling = FilterModel::stepSettlingMs(r, 0.01);
        EXPECT_GT(settling, previousSettling);
        EXPECT_LT(FilterModel::noiseSigma(r), previousNoise);
        previousSettling = settling;
        previousNoise = FilterModel::noiseSigma(r);

        // The load goes on at a quarter period (10000 ms): measured every millisecond, the response settles
        // when the model says, and the held load's noise has the model's standard deviation.
        std::vector<double> times, values, still;
        for (qint64 ms = 8000; ms < 30000; ++ms) {
            const double w = double(device.profile().weightAt(ms));
            if (ms < 10000 + 4 * r.settlingMs) {
                times.push_back(double(ms));
                values.push_back(w);
            } else {
                still.push_back(w - 10000);
            }
        }
        const std::optional<tarvo::StepResponse> step = tarvo::StepResponse::of(times, values, 0.01);
        ASSERT_TRUE(step);
        EXPECT_NEAR(step->settlingMs, settling, 2 + 0.02 * settling);
        if (still.size() > 1000) {
            const tarvo::SpanStatistics s = tarvo::SpanStatistics::of(still.data(), qint64(still.size()));
            EXPECT_NEAR(s.standardDeviation, FilterModel::noiseSigma(r),
                        0.1 * FilterModel::noiseSigma(r) + 0.3);
        }
    }
    // A slow output rate limits the cut-off: level 1 at rate 7 filters as hard as the rate allows.
    device.receive("UR 7\r");
    device.receive("FL 1\r");
    EXPECT_EQ(device.profile().settings().settlingMs, FilterModel::response(6110, 0, 1, 7, 40).settlingMs);
    EXPECT_GT(FilterModel::response(6110, 0, 1, 7, 40).settlingMs,
              FilterModel::response(6110, 0, 1, 0, 40).settlingMs);

    // The track-bar models: one index, its characteristic deciding the overshoot.
    const FilterResponse butterworth = FilterModel::response(4110, -1, 21, 0, 40);
    const FilterResponse gaussian = FilterModel::response(4110, -1, 23, 0, 40);
    EXPECT_EQ(butterworth.cutoffHz, 1.0);
    EXPECT_EQ(gaussian.cutoffHz, 1.0);
    EXPECT_LT(butterworth.damping, gaussian.damping);

    Device plain(stepDevice(false));
    plain.receive("FL 8\r");
    EXPECT_EQ(plain.profile().settings().settlingMs, 300);
    EXPECT_EQ(plain.profile().settings().amplitude, 40);
}
