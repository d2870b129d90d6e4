// The noise and step figures of a recorded span, checked against figures computed here another way, on
// the simulator's noise and step profiles and on responses whose figures are known in closed form.
#include "measure/SpanStatistics.h"
#include "engine/WeightProfile.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace tarvo;

namespace {

// Two passes in long double: the textbook definition, not the program's one-pass sums.
SpanStatistics reference(const std::vector<double>& v) {
    SpanStatistics s;
    s.count = qint64(v.size());
    long double sum = 0;
    for (double x : v)
        sum += x;
    const long double mean = sum / v.size();
    long double squares = 0;
    for (double x : v)
        squares += (x - mean) * (x - mean);
    s.mean = double(mean);
    s.standardDeviation = double(std::sqrt(squares / (v.size() - 1)));
    s.minimum = *std::min_element(v.begin(), v.end());
    s.maximum = *std::max_element(v.begin(), v.end());
    return s;
}

std::vector<double> profileValues(devsim::WeightProfile::Kind kind, double offset, int count) {
    devsim::WeightProfile::Settings settings;
    settings.kind = kind;
    settings.load = 50.0;
    settings.amplitude = 7;
    settings.seed = 42;
    const devsim::WeightProfile profile(settings, 1);
    std::vector<double> values;
    for (int ms = 0; ms < count; ++ms)
        values.push_back(offset + double(profile.weightAt(ms)) / 10.0);
    return values;
}

} // namespace

TEST(SpanStatistics, AgreeWithTheTwoPassDefinitionOnNoiseStepsAndLargeWeights) {
    for (const auto& [kind, offset] :
         {std::pair{devsim::WeightProfile::Kind::Noise, 0.0},
          std::pair{devsim::WeightProfile::Kind::Step, 0.0},
          // A few counts of noise on a heavy load: naive sums of squares lose every digit of it.
          std::pair{devsim::WeightProfile::Kind::Noise, 99000.0}}) {
        const std::vector<double> values = profileValues(kind, offset, 20000);
        const SpanStatistics expected = reference(values);
        const SpanStatistics got = SpanStatistics::of(values.data(), qint64(values.size()));
        SCOPED_TRACE(int(kind));
        EXPECT_EQ(got.count, expected.count);
        EXPECT_NEAR(got.mean, expected.mean, 1e-9 * std::max(1.0, std::fabs(expected.mean)));
        EXPECT_NEAR(got.standardDeviation, expected.standardDeviation, 1e-7 * expected.standardDeviation);
        EXPECT_GT(got.standardDeviation, 0);
        EXPECT_EQ(got.minimum, expected.minimum);
        EXPECT_EQ(got.maximum, expected.maximum);
        EXPECT_EQ(got.peakToPeak(), expected.maximum - expected.minimum);

        // The same from the recording's single-precision floats.
        std::vector<float> floats(values.begin(), values.end());
        std::vector<double> rounded(floats.begin(), floats.end());
        const SpanStatistics fromFloats = SpanStatistics::of(floats.data(), qint64(floats.size()));
        EXPECT_NEAR(fromFloats.standardDeviation, reference(rounded).standardDeviation,
                    1e-6 * expected.standardDeviation);
    }
    // One value has no spread; none has nothing.
    const double one = 12.5;
    EXPECT_EQ(SpanStatistics::of(&one, 1).standardDeviation, 0);
    EXPECT_EQ(SpanStatistics::of(&one, 1).mean, 12.5);
    EXPECT_EQ(SpanStatistics::of(static_cast<const double*>(nullptr), 0).count, 0);
}

TEST(StepResponse, RiseSettlingAndOvershootOfKnownResponsesWithinOneSample) {
    // First order, time constant tau, load put on at t0, sampled every millisecond from a level of 20.
    const double tau = 40, t0 = 300, size = 50, band = 0.001;
    std::vector<double> t, v;
    for (int ms = 0; ms < 2000; ++ms) {
        t.push_back(ms);
        v.push_back(20 + (ms < t0 ? 0 : size * (1 - std::exp(-(ms - t0) / tau))));
    }
    const std::optional<StepResponse> first = StepResponse::of(t, v, band);
    ASSERT_TRUE(first.has_value());
    EXPECT_NEAR(first->size(), size, 0.01);
    EXPECT_NEAR(first->startMs, t0 + tau * std::log(1 / 0.9), 1.0);
    EXPECT_NEAR(first->riseMs, tau * std::log(9.0), 1.0);
    EXPECT_NEAR(first->settlingMs, tau * std::log(1 / band) - tau * std::log(1 / 0.9), 1.0);
    EXPECT_NEAR(first->overshootPercent, 0, 1e-9);

    // Second order, damping 0.3: the load taken off overshoots by exp(-zeta pi / sqrt(1 - zeta^2)).
    const double zeta = 0.3, wn = 0.05;
    const double wd = wn * std::sqrt(1 - zeta * zeta);
    v.clear();
    for (int ms = 0; ms < 2000; ++ms) {
        const double s = ms - t0;
        const double unit =
            s < 0 ? 0
                  : 1 - std::exp(-zeta * wn * s) *
                            (std::cos(wd * s) + zeta / std::sqrt(1 - zeta * zeta) * std::sin(wd * s));
        v.push_back(70 - size * unit);
    }
    const std::optional<StepResponse> second = StepResponse::of(t, v, 0.02);
    ASSERT_TRUE(second.has_value());
    EXPECT_NEAR(second->size(), -size, 0.01);
    EXPECT_NEAR(second->overshootPercent,
                100 * std::exp(-zeta * std::numbers::pi / std::sqrt(1 - zeta * zeta)), 0.5);
    EXPECT_GT(second->settlingMs, second->riseMs);

    // Noise alone holds no step; nor does a record too short to tell.
    const std::vector<double> noise = profileValues(devsim::WeightProfile::Kind::Noise, 0, 2000);
    EXPECT_FALSE(StepResponse::of(t, noise).has_value());
    EXPECT_FALSE(StepResponse::of({0, 1, 2}, {0, 0, 50}).has_value());
}

TEST(DataFileSamples, ReadsWhatTheProgramWritesAndSaysWhyOtherFilesAreNot) {
    QString error;
    std::optional<DataFileSamples> s = DataFileSamples::parse(
        "Line 7\r\nGraphData;Milliseconds\r\n12,5;0\r\n12,75;100\r\n-3;200\r\n", &error);
    ASSERT_TRUE(s.has_value()) << error.toStdString();
    EXPECT_EQ(s->name, "Line 7");
    EXPECT_EQ(s->values, (std::vector<double>{12.5, 12.75, -3}));
    EXPECT_EQ(s->timesMs, (std::vector<double>{0, 100, 200}));
    EXPECT_EQ(s->decimals, 2);
    s = DataFileSamples::parse("x\nDoseData,Milliseconds\n1.5,0\n", &error);
    ASSERT_TRUE(s.has_value()) << error.toStdString();
    EXPECT_EQ(s->values, std::vector<double>{1.5});

    const QStringList refused = {
        "",
        "name only",
        "x\nValues,Milliseconds\n1,2\n",
        "x\nGraphData::Milliseconds\n1::2\n",
        "x\nGraphData,Milliseconds\n",
        "x\nGraphData,Milliseconds\n1,2,3\n",
        "x\nGraphData,Milliseconds\n1,abc\n",
        "x\nGraphData,Milliseconds\n1,nan\n",
        "x\nGraphData,Milliseconds\n1,200\n2,100\n",
    };
    for (const QString& text : refused) {
        error.clear();
        EXPECT_FALSE(DataFileSamples::parse(text.toUtf8(), &error).has_value()) << text.toStdString();
        EXPECT_TRUE(error.startsWith("line ")) << text.toStdString() << ": " << error.toStdString();
    }
}
