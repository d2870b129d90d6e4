// tarvo-cli record against the real simulator on a pseudo-terminal, in real time.
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start({"--device", "id=4110,baud=115200,weight=123.4,update=50"}));
        ASSERT_TRUE(rig.writeSettings(sim.linePath(1), "[Port]\nBaud=115200\nComNumber=1\n[Options]\n"
                                                       "FileSeparator=;\nGraphName=Line 7\n"));
    }
    int record(const QStringList& args, QByteArray* err = nullptr) {
        const CliRun run = rig.cli(QStringList{"record"} + args, 30000);
        if (err)
            *err = run.err;
        return run.exitCode;
    }
    SimulatorProcess sim;
    ProgramRig rig;
};

} // namespace

TEST_F(RecordTest, RecordsAndWritesTheGraphDataFileWithTheSettingsSeparatorAndName) {
    const QString csv = rig.filePath("out.csv");
    QByteArray err;
    ASSERT_EQ(record({"--seconds", "2", "--csv", csv}, &err), 0) << err.toStdString();
    EXPECT_TRUE(err.contains("samples: ")) << err.toStdString();
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[0], "Line 7");
    EXPECT_EQ(lines[1], "GraphData;Milliseconds");
    // The net stream of a device holding 123.4 in counts: 1234.
    EXPECT_TRUE(lines[2].startsWith("1234;")) << lines[2].toStdString();
    // The settings file is only read.
    QFile ini(rig.settingsPath());
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains("GraphName=Line 7\n"));
}

TEST_F(RecordTest, UsageErrorsAndAMissingDeviceHaveTheirExitStatus) {
    const QString csv = rig.filePath("x.csv");
    EXPECT_EQ(record({"--csv", csv}), 2);
    EXPECT_EQ(record({"--seconds", "1"}), 2);
    EXPECT_EQ(record({"--seconds", "1", "--csv", csv, "--slot", "6"}), 2);
    sim.stop();
    EXPECT_EQ(record({"--seconds", "1", "--csv", csv}), 1);
    EXPECT_FALSE(QFile::exists(csv));
}
