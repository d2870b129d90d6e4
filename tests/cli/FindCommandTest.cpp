#include "support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using tarvo::test::programPath;

namespace {

// tarvo-cli find against the real simulator on pseudo-terminals: line 1 carries a device at 38400,
// line 2 nothing. The child's configuration folder is a temporary one whose Tarvo.ini maps COM1 to the
// chosen line and leaves COM2..COM8 without a port, so the machine's own ports are never touched.
class FindCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        sim.start(programPath("tarvo-devsim"),
                  {"--lines", "2", "--device", "line=1,id=4114,fw=2.10,baud=38400", "--reset-ms", "100"});
        ASSERT_TRUE(sim.waitForStarted(5000));
        QRegularExpression pattern("^line (\\d): (\\S+)$");
        while (lines.size() < 2 && sim.waitForReadyRead(5000)) {
            while (sim.canReadLine()) {
                const QRegularExpressionMatch m =
                    pattern.match(QString::fromLocal8Bit(sim.readLine()).trimmed());
                if (m.hasMatch())
                    lines[m.captured(1).toInt()] = m.captured(2);
            }
        }
        ASSERT_EQ(lines.size(), 2);
    }
    void TearDown() override {
        sim.write("quit\n");
        if (!sim.waitForFinished(3000)) {
            sim.kill();
            sim.waitForFinished(3000);
        }
    }

    void writeSettings(const QString& com1, const QByteArray& extra) {
        QDir().mkpath(dir.filePath("config/Tarvo"));
        QFile ini(dir.filePath("config/Tarvo/Tarvo.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        QByteArray text = "[ComPorts]\nCOM1=" + com1.toLocal8Bit() + "\n";
        for (int com = 2; com <= 8; ++com)
            text += "COM" + QByteArray::number(com) + "=\n";
        ini.write(text + "[Port]\nBaud=115200\nComNumber=1\n" + extra);
    }

    struct Run {
        int exitCode = -1;
        QString out;
        QStringList err;
    };
    Run find(const QStringList& args = {}) {
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        cli.setProcessEnvironment(env);
        cli.start(programPath("tarvo-cli"), QStringList{"find"} + args);
        Run run;
        if (!cli.waitForFinished(60000))
            return run;
        run.exitCode = cli.exitCode();
        run.out = QString::fromLocal8Bit(cli.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(cli.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        return run;
    }

    QTemporaryDir dir;
    QProcess sim;
    QMap<int, QString> lines;
};

} // namespace

TEST_F(FindCommandTest, FindsTheDeviceAndPrintsWhatItIs) {
    writeSettings(lines[1], {});
    QFile ini(dir.filePath("config/Tarvo/Tarvo.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray settings = ini.readAll();
    ini.close();

    const Run run = find();
    EXPECT_EQ(run.exitCode, 0) << run.err.join('\n').toStdString();
    EXPECT_EQ(run.out, "identity: 4114\nfirmware: 2.10\nport: COM1\nbaud: 38400\n");
    EXPECT_EQ(run.err.first(), "Searching for device.... please wait!");
    EXPECT_TRUE(run.err.contains("Searching device... COM1@115200baud"));
    EXPECT_EQ(run.err.last(), "Device found at COM1  running 38400baud");
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_EQ(ini.readAll(), settings); // never written back
}

TEST_F(FindCommandTest, ASilentLineEndsWithNotFound) {
    writeSettings(lines[2], "[Options]\nSearchSelectedBaudCom=1\n");
    const Run run = find();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err.count("Device: not found!... please reset device and try again!"), 2);
    EXPECT_EQ(run.err.last(), "Device: not found!... please reset device and try again!");
}

TEST_F(FindCommandTest, UsageAndConfigurationErrorsExitWithTwo) {
    writeSettings(lines[1], {});
    EXPECT_EQ(find({"COM1"}).exitCode, 2);
    writeSettings(QString(), {}); // no port at all
    const Run run = find();
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("No COM ports available... Tarvo program will terminate!"));
}
