// tarvo-cli measure on recordings of the simulator: the figures it prints are those of the file's rows,
// and a file that is not a recording is refused with the line that showed it; measure --seconds records
// a step itself and times it as the simulator's own model of the response says.
#include "engine/WeightProfile.h"
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <gtest/gtest.h>

using namespace tarvo::test;

TEST(MeasureCommand, FiguresOfARecordedStepAndRefusals) {
    SimulatorProcess sim;
    // A load of 50.0 put on and taken off every two seconds, settling within 300 ms.
    ASSERT_TRUE(
        sim.start({"--device", "line=1,id=4110,weight=10,profile=step,load=50,period=4000,update=5"}));
    ProgramRig rig;
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    const QString csv = rig.filePath("step.csv");
    const CliRun recorded = rig.cli({"record", "--seconds", "3", "--csv", csv}, 60000);
    ASSERT_EQ(recorded.exitCode, 0) << recorded.err.toStdString();

    // The figures again, from the rows as the file holds them.
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    std::vector<double> values;
    for (qsizetype i = 2; i < rows.size(); ++i)
        if (const QList<QByteArray> f = rows[i].trimmed().split(','); f.size() == 2)
            values.push_back(f[0].toDouble());
    ASSERT_GT(values.size(), 100u);
    double sum = 0;
    for (double v : values)
        sum += v;
    const double mean = sum / double(values.size());
    double squares = 0;
    for (double v : values)
        squares += (v - mean) * (v - mean);

    const CliRun run = rig.cli({"measure", "--csv", csv, "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject out = QJsonDocument::fromJson(run.out).object();
    EXPECT_EQ(out["samples"].toInt(), int(values.size()));
    EXPECT_NEAR(out["mean"].toDouble(), mean, 1e-6 * std::fabs(mean));
    EXPECT_NEAR(out["standardDeviation"].toDouble(), std::sqrt(squares / double(values.size() - 1)), 1e-6);
    EXPECT_EQ(out["minimum"].toDouble(), *std::min_element(values.begin(), values.end()));
    EXPECT_EQ(out["maximum"].toDouble(), *std::max_element(values.begin(), values.end()));
    // The step figures of a recorded load are those of the step analysis (tested on known responses); here
    // only that they are there or said to be absent.
    EXPECT_TRUE(out.contains("step")) << run.out.toStdString();

    const CliRun text = rig.cli({"measure", "--csv", csv});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_TRUE(text.out.startsWith("samples: " + QByteArray::number(qsizetype(values.size())) + "\n"));
    EXPECT_TRUE(text.out.contains("\npeak-to-peak: ")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("\nstep: ")) << text.out.toStdString();

    QFile bad(rig.filePath("bad.csv"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("x\nGraphData,Milliseconds\n1,0\n2,abc\n");
    bad.close();
    CliRun refused = rig.cli({"measure", "--csv", bad.fileName()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err,
              "tarvo-cli measure: " + bad.fileName().toLocal8Bit() + ": line 4: not a number: \"2,abc\"\n");
    refused = rig.cli({"measure", "--csv", rig.filePath("")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.endsWith(": not a regular file\n")) << refused.err.toStdString();
    EXPECT_EQ(rig.cli({"measure", "--csv", csv, "--band", "0"}).exitCode, 2);
    // A decimal comma, as many locales write it, is the same band as a decimal point.
    const CliRun comma = rig.cli({"measure", "--csv", csv, "--band", "0,5"});
    EXPECT_EQ(comma.exitCode, 0) << comma.err.toStdString();
    EXPECT_EQ(comma.out, rig.cli({"measure", "--csv", csv, "--band", "0.5"}).out);
    EXPECT_EQ(rig.cli({"measure"}).exitCode, 2);
}

namespace {

// Where a response first reaches level going up, between two whole milliseconds by straight interpolation.
double firstReaching(const devsim::WeightProfile& profile, qint64 from, qint64 to, double level) {
    for (qint64 ms = from + 1; ms < to; ++ms) {
        const double a = double(profile.weightAt(ms - 1)), b = double(profile.weightAt(ms));
        if (b >= level)
            return double(ms - 1) + (b != a ? (level - a) / (b - a) : 1.0);
    }
    return -1;
}

} // namespace

TEST(MeasureCommand, SecondsRecordsAStepWhoseRiseAndSettlingAreTheSimulatorsWithinASample) {
    // A load of 2000.0 (20000 counts) put on 600 ms after the recording began, inside the run clock's
    // first second (whose samples it stamps 0 ms), streamed every 5 ms without noise; the recording ends
    // while the load is held.
    const int updateMs = 5;
    SimulatorProcess sim;
    ASSERT_TRUE(sim.start(
        {"--device", QStringLiteral("line=1,id=4110,weight=10,decimals=1,update=%1").arg(updateMs)}));
    ProgramRig rig;
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    QProcess cli;
    cli.setProcessEnvironment(rig.environment());
    cli.start(programPath("tarvo-cli"), {"measure", "--seconds", "1.5", "--band", "0.1", "--json"});
    // RUN starts as soon as the device is found: the step profile starts then, in the device's time.
    QByteArray err;
    QElapsedTimer waited;
    waited.start();
    while (!err.contains("Device found") && waited.elapsed() < 30000 && cli.state() != QProcess::NotRunning) {
        cli.waitForReadyRead(50);
        err += cli.readAllStandardError();
    }
    ASSERT_TRUE(err.contains("Device found")) << err.toStdString();
    ASSERT_EQ(sim.control("profile 1 0 step load=2000 period=2400 settle=300 amplitude=0"), "ok");
    ASSERT_TRUE(cli.waitForFinished(30000));
    ASSERT_EQ(cli.exitCode(), 0) << (err + cli.readAllStandardError()).toStdString();
    const QByteArray printed = cli.readAllStandardOutput();
    const QJsonObject out = QJsonDocument::fromJson(printed).object();
    ASSERT_TRUE(out["step"].isObject()) << printed.toStdString();
    const QJsonObject step = out["step"].toObject();
    const CliRun run{0, printed, err};

    // The response the simulator computes, from its own model of the device.
    devsim::WeightProfile::Settings settings;
    settings.kind = devsim::WeightProfile::Kind::Step;
    settings.load = 2000;
    settings.periodMs = 2400;
    settings.settlingMs = 300;
    settings.amplitude = 0;
    const devsim::WeightProfile profile(settings, 1);
    const qint64 on = 600, held = 1800;
    const double size = double(profile.weightAt(held - 1) - profile.weightAt(on - 1));
    const double t10 = firstReaching(profile, on - 1, held, 0.1 * size);
    const double t90 = firstReaching(profile, on - 1, held, 0.9 * size);
    const double final = double(profile.weightAt(held - 1));
    // Settled where the response last leaves the band of 0.1 % around the final level for good.
    const double band = 0.001 * size;
    qint64 lastOutside = on;
    for (qint64 ms = on; ms < held; ++ms)
        if (std::fabs(double(profile.weightAt(ms)) - final) > band)
            lastOutside = ms;
    const double out0 = std::fabs(double(profile.weightAt(lastOutside)) - final) - band;
    const double in1 = std::fabs(double(profile.weightAt(lastOutside + 1)) - final) - band;
    const double settling = double(lastOutside) + out0 / (out0 - in1) - t10;
    ASSERT_GT(t10, 0);
    ASSERT_GT(t90, t10);

    EXPECT_NEAR(step["size"].toDouble(), size, 1.0) << run.out.toStdString();
    EXPECT_NEAR(step["riseMs"].toDouble(), t90 - t10, updateMs) << run.out.toStdString();
    EXPECT_NEAR(step["settlingMs"].toDouble(), settling, updateMs) << run.out.toStdString();
    EXPECT_GT(step["overshootPercent"].toDouble(), 0);
    // The samples at the stream's own rate fill the time recorded.
    EXPECT_NEAR(out["samples"].toDouble() * out["samplePeriodMs"].toDouble(), 1500, 150)
        << run.out.toStdString();
    // The recorded values are counts: no digits after the point.
    EXPECT_EQ(out["decimals"].toInt(), 0);

    // The same in words; a second source, or recording options with a file, are usage errors.
    EXPECT_EQ(rig.cli({"measure", "--seconds", "1", "--csv", rig.filePath("x.csv")}).exitCode, 2);
    EXPECT_EQ(rig.cli({"measure", "--csv", rig.filePath("x.csv"), "--slot", "2"}).exitCode, 2);
    EXPECT_EQ(rig.cli({"measure", "--seconds", "0"}).exitCode, 2);
    EXPECT_EQ(rig.cli({"measure", "--seconds", "1", "--port", "9"}).exitCode, 2);
    // COM2 has no port: looked for there only, the device is not found.
    EXPECT_EQ(rig.cli({"measure", "--seconds", "0.5", "--port", "2"}, 60000).exitCode, 1);
    const CliRun text = rig.cli({"measure", "--seconds", "0.5", "--slot", "3", "--port", "1"}, 60000);
    EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.startsWith("samples: ")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("\nsample period: ")) << text.out.toStdString();
}
