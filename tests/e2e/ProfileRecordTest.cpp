// The simulator's weight profiles as a technician records them: tarvo-devsim on a pseudo-terminal,
// tarvo-cli record, and the graph data file and state markers it leaves. Real time, a few seconds each.
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QFile>
#include <algorithm>
#include <set>

using namespace tarvo::test;

namespace {

struct Sample {
    double value;
    qint64 ms;
};

struct Recording {
    int exitCode = -1;
    QByteArray err;
    QList<Sample> samples;
    QStringList markers;
};

class ProfileRecordTest : public ::testing::Test {
protected:
    bool startSimulator(const QString& device, const QByteArray& options = {}) {
        return sim.start({"--device", device}) &&
               rig.writeSettings(sim.linePath(1),
                                 "[Port]\nBaud=115200\nComNumber=1\n[Options]\nFileSeparator=;\n" + options);
    }

    Recording record(int seconds) {
        Recording r;
        const QString csv = rig.filePath("profile.csv");
        const CliRun run =
            rig.cli({"record", "--seconds", QString::number(seconds), "--csv", csv, "--markers"}, 60000);
        r.exitCode = run.exitCode;
        r.err = run.err;
        for (const QByteArray& line : run.out.split('\n'))
            if (line.startsWith("marker at "))
                r.markers.append(QString::fromUtf8(line.mid(line.indexOf(": ") + 2)));
        QFile file(csv);
        if (!file.open(QIODevice::ReadOnly))
            return r;
        const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
        for (qsizetype i = 2; i < lines.size(); ++i) {
            QList<QByteArray> fields = lines[i].trimmed().split(';');
            if (fields.size() == 2)
                r.samples.append({fields[0].replace(',', '.').toDouble(), fields[1].toLongLong()});
        }
        return r;
    }

    SimulatorProcess sim;
    ProgramRig rig;
};

TEST_F(ProfileRecordTest, StepRisesFromEmptyToTheLoadWithinTheSettlingTimeAndHoldsItInTheNoiseBand) {
    ASSERT_TRUE(startSimulator("id=4110,profile=step,load=100,period=1600,settle=300,amplitude=3,update=20"));
    const Recording r = record(4);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QList<Sample>& s = r.samples;
    ASSERT_GE(s.size(), 60);
    // Counts: a load of 100.0 is 1000; within 1 % of it after the settling time, plus the noise.
    const double load = 1000;
    const double band = 10 + 3;
    // Times are measured from the first step-time tick on; samples before it all read 0 ms.
    qsizetype first = 0;
    while (first < s.size() && s[first].ms <= 0)
        ++first;
    bool found = false;
    for (qsizetype up = first + 1; up < s.size() && !found; ++up) {
        if (!(s[up - 1].value < load / 2 && s[up].value >= load / 2))
            continue;
        qsizetype before = up - 1;
        while (before >= first && std::abs(s[before].value) > band)
            --before;
        qsizetype off = up;
        while (off < s.size() && s[off].value >= load / 2)
            ++off;
        if (before < first || off == s.size())
            continue; // this rise is not whole inside the timed part of the recording
        found = true;
        qsizetype last = off - 1; // the last sample before the load is taken off
        while (last > up && s[last].value < load - band)
            --last;
        ASSERT_LE(std::abs(s[last].value - load), band) << "never settled";
        qsizetype settled = last;
        while (settled > up && std::abs(s[settled - 1].value - load) <= band)
            --settled;
        const qint64 rise = s[settled].ms - s[before].ms;
        EXPECT_LE(rise, 300 + 60) << "from empty to settled";
        EXPECT_GE(rise, 100) << "a filtered load cell does not jump";
        double peak = 0;
        for (qsizetype i = up; i < off; ++i)
            peak = std::max(peak, s[i].value);
        EXPECT_GT(peak, load + band) << "a little overshoot";
        EXPECT_LT(peak, load * 1.1);
        EXPECT_GE(s[last].ms - s[settled].ms, 250) << "held";
    }
    EXPECT_TRUE(found) << "no whole rise in " << s.size() << " samples";
}

TEST_F(ProfileRecordTest, FillingGoesThroughTheDosingStatesInOrderAndFillsToItsTarget) {
    // With status information, RUN starts a dosing cycle ("SC") before it records.
    ASSERT_TRUE(startSimulator("id=4114,profile=filling,load=100,period=4000,amplitude=2",
                               "UseStatusInformation=1\n"));
    const Recording r = record(5);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList cycle{"Zeroing",  "Tareing",       "PreFill",           "CoraseFill",
                            "FineFill", "InFlightDelay", "ReadFillingWeight", "Idle"};
    ASSERT_GE(r.markers.size(), cycle.size()) << r.markers.join(", ").toStdString();
    EXPECT_EQ(r.markers.mid(0, cycle.size()), cycle);
    // Status packets carry display units: a hopper filled to 100.0 from empty and emptied again.
    const QList<Sample>& s = r.samples;
    ASSERT_GE(s.size(), 60);
    EXPECT_LT(std::abs(s.front().value), 0.5);
    const auto top = std::max_element(s.begin(), s.end(),
                                      [](const Sample& a, const Sample& b) { return a.value < b.value; });
    EXPECT_NEAR(top->value, 100.0, 0.4 + 0.2 + 0.3);
    double highest = 0;
    for (auto it = s.begin(); it != top; ++it) {
        EXPECT_GE(it->value, highest - 0.7) << "the weight only rises while filling";
        highest = std::max(highest, it->value);
    }
    EXPECT_TRUE(std::any_of(top, s.end(), [](const Sample& x) { return x.value < 1.0; })) << "discharged";
}

TEST_F(ProfileRecordTest, NoiseChosenOnTheControlChannelStaysWithinItsAmplitude) {
    ASSERT_TRUE(startSimulator("id=4110,weight=50,update=20"));
    ASSERT_EQ(sim.control("profile 1 0 noise amplitude=4"), "ok");
    const Recording r = record(2);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_GE(r.samples.size(), 40);
    std::set<double> values;
    for (const Sample& x : r.samples) {
        EXPECT_LE(std::abs(x.value - 500), 4) << x.value;
        values.insert(x.value);
    }
    EXPECT_GE(values.size(), 5u);
    EXPECT_LT(*values.begin(), 500);
    EXPECT_GT(*values.rbegin(), 500);
}

TEST_F(ProfileRecordTest, CheckweigherPackagesMakePlateausBetweenEmptyBelts) {
    ASSERT_TRUE(
        startSimulator("id=4113,profile=checkweigher,load=50,amplitude=2", "UseStatusInformation=1\n"));
    const Recording r = record(4);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Every package: auto-tare on the empty belt, triggered, measured, idle again.
    const QStringList cycle{"AutoTare", "Triged", "Measuring", "Idle"};
    const qsizetype start = r.markers.indexOf("AutoTare");
    ASSERT_GE(start, 0) << r.markers.join(", ").toStdString();
    ASSERT_GE(r.markers.size() - start, 6) << r.markers.join(", ").toStdString();
    for (qsizetype i = start; i < r.markers.size(); ++i)
        EXPECT_EQ(r.markers[i], cycle[(i - start) % cycle.size()]) << i;

    // Packages of 50.0 within 3 %; on a plateau the reading stays within the noise and the settling tail.
    const QList<Sample>& s = r.samples;
    QList<double> plateaus;
    QList<double> lowestBefore; // the emptiest reading between the previous plateau and this one
    double lowest = 1e9;
    for (qsizetype i = 0; i < s.size();) {
        qsizetype end = i;
        while (end < s.size() && std::abs(s[end].value - 50) <= 2.5)
            ++end;
        if (end - i >= 11) {
            // Eight samples just before the package starts to leave the belt.
            double low = 1e9;
            double high = -1e9;
            double sum = 0;
            for (qsizetype k = end - 11; k < end - 3; ++k) {
                low = std::min(low, s[k].value);
                high = std::max(high, s[k].value);
                sum += s[k].value;
            }
            EXPECT_LE(high - low, 0.4 + 0.5) << "plateau at sample " << i;
            plateaus.append(sum / 8);
            lowestBefore.append(lowest);
            lowest = 1e9;
        } else if (end == i) {
            lowest = std::min(lowest, s[i].value);
        }
        i = std::max(end, i + 1);
    }
    ASSERT_GE(plateaus.size(), 2);
    for (qsizetype p = 0; p < plateaus.size(); ++p) {
        EXPECT_NEAR(plateaus[p], 50.0, 1.5 + 0.3) << p;
        if (p > 0) {
            EXPECT_LT(lowestBefore[p], 2.5) << "the belt is empty between packages " << p;
        }
    }
}

} // namespace
