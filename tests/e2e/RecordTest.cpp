// tarvo-cli record against tarvo-devsim on a pseudo-terminal, in real time.
#include "support/QtPrinters.h"
#include "support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

class RecordFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        link = dir.filePath("com1");
        sim.setProgram(programPath("tarvo-devsim"));
        sim.setArguments({"--device", "id=4110,baud=115200,weight=123.4,update=50", "--link", "1=" + link});
        sim.start();
        ASSERT_TRUE(sim.waitForStarted(5000));
        for (int i = 0; i < 100 && !QFile::exists(link); ++i)
            QThread::msleep(50);
        ASSERT_TRUE(QFile::exists(link));
        QDir(dir.path()).mkpath("config/Tarvo");
        QFile ini(dir.filePath("config/Tarvo/Tarvo.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        QByteArray text = "[Port]\nBaud=115200\nComNumber=1\n[Options]\nFileSeparator=;\nGraphName=Line 7\n"
                          "[ComPorts]\nCOM1=" +
                          link.toUtf8() + "\n";
        for (int n = 2; n <= 8; ++n)
            text += "COM" + QByteArray::number(n) + "=\n";
        ini.write(text);
    }
    void TearDown() override {
        sim.terminate();
        if (!sim.waitForFinished(3000))
            sim.kill();
    }
    int record(const QStringList& args, QByteArray* err = nullptr) {
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        cli.setProcessEnvironment(env);
        cli.start(programPath("tarvo-cli"), QStringList{"record"} + args);
        EXPECT_TRUE(cli.waitForFinished(30000));
        if (err)
            *err = cli.readAllStandardError();
        return cli.exitCode();
    }
    QTemporaryDir dir;
    QString link;
    QProcess sim;
};

} // namespace

TEST_F(RecordFixture, RecordsAndWritesTheGraphDataFileWithTheSettingsSeparatorAndName) {
    const QString csv = dir.filePath("out.csv");
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
    QFile ini(dir.filePath("config/Tarvo/Tarvo.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains("GraphName=Line 7\n"));
}

TEST_F(RecordFixture, UsageErrorsAndAMissingDeviceHaveTheirExitStatus) {
    EXPECT_EQ(record({"--csv", dir.filePath("x.csv")}), 2);
    EXPECT_EQ(record({"--seconds", "1"}), 2);
    EXPECT_EQ(record({"--seconds", "1", "--csv", dir.filePath("x.csv"), "--slot", "6"}), 2);
    sim.terminate();
    sim.waitForFinished(3000);
    EXPECT_EQ(record({"--seconds", "1", "--csv", dir.filePath("x.csv")}), 1);
    EXPECT_FALSE(QFile::exists(dir.filePath("x.csv")));
}
