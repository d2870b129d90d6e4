// "tarvo-cli tune" against a streaming transmitter whose filter shapes its weight: a load put on and
// taken off by itself, noise that the filter's cut-off lets through. Every setting must reach the device
// and be read back, the original must come back, and the recommendation must be the one the device's
// known noise and settling per setting give.
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include "engine/FilterModel.h"
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

constexpr int kIdentity = 6110; // levels 0..8 without a mode choice
constexpr int kRawNoise = 40;   // counts either side, unfiltered
constexpr int kLevels = 9;
constexpr double kBand = 0.01;

class TuneCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            sim.start({"--device", QStringLiteral("line=1,id=%1,stream=SN,update=10,profile=step,load=1000,"
                                                  "amplitude=%2,period=2400,settle=300,filter=on")
                                       .arg(kIdentity)
                                       .arg(kRawNoise)}));
        ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
        // The fastest output rate, so that the cut-off alone decides.
        const CliRun rate = rig.cli({"send", "UR 0"}, 20000);
        ASSERT_EQ(rate.out, "OK\n") << rate.err.toStdString();
        heardFilterLines();
    }
    // The filter commands the device heard since the last call.
    QStringList heardFilterLines() {
        const QString answer = sim.control("heard 1 0");
        EXPECT_TRUE(answer.startsWith("ok")) << answer.toStdString();
        QStringList lines = answer.size() > 3 ? answer.mid(3).split('|') : QStringList{};
        lines.removeIf(
            [](const QString& l) { return !l.startsWith("FL") && !l.startsWith("FM") && l != "WP"; });
        return lines;
    }
    // The device's known figures per level: noise standard deviation in counts and settling time to 1 %.
    static std::pair<double, double> known(int level) {
        const devsim::FilterResponse r = devsim::FilterModel::response(kIdentity, 0, level, 0, kRawNoise);
        return {devsim::FilterModel::noiseSigma(r), devsim::FilterModel::stepSettlingMs(r, kBand)};
    }

    SimulatorProcess sim;
    ProgramRig rig;
};

} // namespace

TEST_F(TuneCommandTest, TriesEverySettingRestoresTheOriginalAndRecommendsTheFastestThatMeetsBothTargets) {
    // Targets (noise in counts here, 1 decimal on the device) and what they must give.
    const double noiseCounts = 11.5;
    const double settleMs = 190;
    std::optional<int> expected;
    for (int level = 0; level < kLevels; ++level) {
        const auto [sigma, settle] = known(level);
        // Each known figure is well clear of its target, so a measurement cannot tip it.
        EXPECT_GT(std::abs(sigma - noiseCounts), 0.18 * noiseCounts) << level;
        EXPECT_GT(std::abs(settle - settleMs), 0.2 * settleMs) << level;
        if (sigma <= noiseCounts && settle <= settleMs && (!expected || settle < known(*expected).second))
            expected = level;
    }
    ASSERT_TRUE(expected);

    const QString report = rig.filePath("tune.csv");
    const CliRun run =
        rig.cli({"tune", "--noise", QString::number(noiseCounts / 10), "--settle", QString::number(settleMs),
                 "--window", "3000", "--take", "200", "--json", "--report", report},
                90000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject out = QJsonDocument::fromJson(run.out).object();
    ASSERT_FALSE(out.isEmpty()) << run.out.toStdString();
    EXPECT_EQ(out["outcome"].toString(), "finished");
    EXPECT_EQ(out["original"]["level"].toInt(), 3);
    EXPECT_TRUE(out["restored"].toBool());
    EXPECT_FALSE(out["applied"].toBool());
    const QJsonArray settings = out["settings"].toArray();
    ASSERT_EQ(settings.size(), kLevels);
    for (int level = 0; level < kLevels; ++level) {
        const QJsonObject s = settings[level].toObject();
        const auto [sigma, settle] = known(level);
        SCOPED_TRACE(QString("level %1: known sigma %2, settling %3; measured %4, %5")
                         .arg(level)
                         .arg(sigma)
                         .arg(settle)
                         .arg(s["sigmaCounts"].toDouble())
                         .arg(s["settlingMs"].toDouble())
                         .toStdString());
        EXPECT_EQ(s["setting"]["level"].toInt(), level);
        EXPECT_GT(s["samples"].toInt(), 100);
        // Between load changes 1200 ms apart, a setting that settles within a third of that has time to
        // hold still; the noise of a slower one holds some of its movement (and it is too slow anyway).
        if (settle < 400) {
            EXPECT_TRUE(s["stillNoise"].toBool());
            EXPECT_EQ(s["meetsNoise"].toBool(), sigma <= noiseCounts);
        } else {
            EXPECT_FALSE(s["meetsSettling"].toBool());
        }
        EXPECT_EQ(s["meetsSettling"].toBool(), settle <= settleMs);
        // The noise in units is the noise in counts at the device's one decimal.
        EXPECT_NEAR(s["sigma"].toDouble() * 10, s["sigmaCounts"].toDouble(), 1e-9);
    }
    EXPECT_EQ(out["recommended"]["level"].toInt(-1), *expected);
    EXPECT_EQ(out["decimals"].toInt(), 1);

    // Each setting written and read back, then the original written and read back; nothing stored.
    QStringList sent{"FL"};
    for (int level = 0; level < kLevels; ++level)
        sent << QString("FL %1").arg(level) << "FL";
    sent << "FL 3"
         << "FL";
    EXPECT_EQ(heardFilterLines(), sent);

    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    EXPECT_TRUE(csv.contains(QString("Recommended;filter %1\n").arg(*expected).toUtf8()))
        << csv.toStdString();
    EXPECT_TRUE(csv.contains("Device holds;filter 3 (restored)\n")) << csv.toStdString();
}

TEST_F(TuneCommandTest,
       ApplyStoresTheRecommendationAfterTheOriginalIsBackAndAReportThatCannotBeKeptChangesNothing) {
    const CliRun refused = rig.cli(
        {"tune", "--noise", "100", "--settle", "100000", "--report", rig.filePath("no/such/folder/tune.csv")},
        20000);
    EXPECT_EQ(refused.exitCode, 1) << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains("nothing was changed")) << refused.err.toStdString();
    EXPECT_EQ(heardFilterLines(), QStringList{});

    // Targets every settled setting meets: the fastest one is applied.
    const CliRun run = rig.cli({"tune", "--noise", "100", "--settle", "100000", "--window", "1500", "--take",
                                "100", "--apply", "--json"},
                               60000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject out = QJsonDocument::fromJson(run.out).object();
    EXPECT_TRUE(out["restored"].toBool());
    EXPECT_TRUE(out["applied"].toBool());
    const int applied = out["recommended"]["level"].toInt(-1);
    ASSERT_GE(applied, 0);
    const QStringList heard = heardFilterLines();
    ASSERT_GE(heard.size(), 7);
    EXPECT_EQ(heard.mid(heard.size() - 5),
              (QStringList{"FL 3", "FL", QString("FL %1").arg(applied), "WP", "FL"}));
    EXPECT_EQ(heard.count("WP"), 1);
}
