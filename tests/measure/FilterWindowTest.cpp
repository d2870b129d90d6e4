// How the filter advisor reads one recording: the noise where the weight held still and the settling of a
// load change. A recording starts wherever the load cycle happens to be when the setting has taken, and
// its samples arrive a few milliseconds late and unevenly; the figures must not depend on either.
#include "measure/FilterAdvisor.h"

#include <engine/FilterModel.h>
#include <engine/WeightProfile.h>

#include <gtest/gtest.h>

using devsim::FilterModel;
using devsim::FilterResponse;
using devsim::WeightProfile;
using tarvo::FilterAdvisor;
using tarvo::FilterTrial;

namespace {

constexpr int kIdentity = 6110;
constexpr int kRawNoise = 40;   // counts either side
constexpr int kDecimals = 1;    // the load is 1000.0 units, 10000 counts
constexpr int kPeriodMs = 2400; // the load goes on and comes off every 1200 ms
constexpr int kSampleMs = 10;
constexpr int kWindowMs = 3000;
constexpr double kBand = 0.01;

// The device's filtered weight from startMs on, in units, stamped as the samples would arrive: each late
// by 0..7 ms, never before the one ahead of it.
void record(const WeightProfile& profile, int startMs, std::vector<double>* times,
            std::vector<double>* values) {
    times->clear();
    values->clear();
    for (int ms = startMs, i = 0; ms < startMs + kWindowMs; ms += kSampleMs, ++i) {
        const double late = (i * 37 % 8);
        times->push_back(std::max(times->empty() ? 0.0 : times->back(), ms + late));
        values->push_back(double(profile.weightAt(ms)) / 10);
    }
}

} // namespace

TEST(FilterWindow, EveryPhaseOfTheLoadCycleGivesTheKnownSettlingAndNoiseOfEverySettingThatCanSettle) {
    for (int level = 0; level <= FilterModel::highestIndex(kIdentity); ++level) {
        const FilterResponse r = FilterModel::response(kIdentity, 0, level, 0, kRawNoise);
        WeightProfile::Settings settings;
        settings.kind = WeightProfile::Kind::Step;
        settings.load = 1000;
        settings.amplitude = r.noiseAmplitude;
        settings.periodMs = kPeriodMs;
        settings.settlingMs = std::max(1, r.settlingMs);
        settings.damping = r.damping;
        const WeightProfile profile(settings, kDecimals);
        const double knownSettling = FilterModel::stepSettlingMs(r, kBand);
        const double knownSigma = FilterModel::noiseSigma(r);

        std::vector<double> times, values;
        for (int startMs = 10000; startMs < 10000 + kPeriodMs; startMs += 50) {
            SCOPED_TRACE(QString("level %1 (settles in %2 ms, sigma %3), recording from %4 ms")
                             .arg(level)
                             .arg(knownSettling)
                             .arg(knownSigma)
                             .arg(startMs)
                             .toStdString());
            record(profile, startMs, &times, &values);
            FilterTrial trial;
            FilterAdvisor::measureWindow(times, values, kDecimals, kBand, true, &trial);
            EXPECT_EQ(trial.samples, kWindowMs / kSampleMs);
            EXPECT_NEAR(trial.sigma * 10, trial.sigmaCounts, 1e-9);
            if (knownSettling < 400) {
                // A third of the time between changes or less: there is time to hold still.
                ASSERT_TRUE(trial.settlingMs);
                EXPECT_NEAR(*trial.settlingMs, knownSettling, kSampleMs);
                EXPECT_TRUE(trial.stillNoise);
                EXPECT_NEAR(trial.sigmaCounts, knownSigma, std::max(0.5, 0.25 * knownSigma));
            } else if (trial.settlingMs) {
                // Too slow to hold still for long, but never taken for a fast one.
                EXPECT_GT(*trial.settlingMs, 0.8 * knownSettling);
            }
        }
    }
}
