// tarvo-cli measure on recordings of the simulator: the figures it prints are those of the file's rows,
// and a file that is not a recording is refused with the line that showed it.
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

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
    EXPECT_EQ(rig.cli({"measure"}).exitCode, 2);
}
