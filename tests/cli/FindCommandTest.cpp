#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

// tarvo-cli find against the real simulator on pseudo-terminals: line 1 carries a device at 38400,
// line 2 nothing.
class FindCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start(
            {"--lines", "2", "--device", "line=1,id=4114,fw=2.10,baud=38400", "--reset-ms", "100"}, 2));
        lines[1] = sim.linePath(1);
        lines[2] = sim.linePath(2);
    }

    void writeSettings(const QString& com1, const QByteArray& extra) {
        ASSERT_TRUE(rig.writeSettings(com1, "[Port]\nBaud=115200\nComNumber=1\n" + extra));
    }

    struct Run {
        int exitCode = -1;
        QString out;
        QStringList err;
    };
    Run find(const QStringList& args = {}) {
        const CliRun cli = rig.cli(QStringList{"find"} + args);
        return {cli.exitCode, QString::fromLocal8Bit(cli.out),
                QString::fromLocal8Bit(cli.err).split('\n', Qt::SkipEmptyParts)};
    }

    SimulatorProcess sim;
    ProgramRig rig;
    QMap<int, QString> lines;
};

} // namespace

TEST_F(FindCommandTest, FindsTheDeviceAndPrintsWhatItIs) {
    writeSettings(lines[1], {});
    QFile ini(rig.settingsPath());
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

// A device that takes the rate but refuses to tell what it is: found, and unknown, which is no success.
TEST_F(FindCommandTest, ADeviceThatDoesNotTellItsIdentityIsNoFoundDevice) {
    writeSettings(lines[1], {});
    ASSERT_EQ(sim.control("refuse 1 0 ID,IV"), "ok");
    const Run run = find();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "identity: not read\nfirmware: not read\nport: COM1\nbaud: 38400\n");
    EXPECT_EQ(run.err.last(), "tarvo-cli find: a device answered but did not tell its identity (ID)");
}

TEST_F(FindCommandTest, ASilentLineEndsWithNotFound) {
    writeSettings(lines[2], "[Options]\nSearchSelectedBaudCom=1\n");
    const Run run = find();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.isEmpty());
    // Said on the information line twice in the window; a terminal shows it once.
    EXPECT_EQ(run.err.count("Device: not found!... please reset device and try again!"), 1);
    EXPECT_EQ(run.err.last(), "Device: not found!... please reset device and try again!");
}

TEST_F(FindCommandTest, UsageAndConfigurationErrorsExitWithTwoAndNoPortEndsEveryCommandThatSearches) {
    writeSettings(lines[1], {});
    EXPECT_EQ(find({"COM1"}).exitCode, 2);
    writeSettings(QString(), {}); // no port at all
    const Run run = find();
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("No COM ports available... Tarvo program will terminate!"));

    // The commands that search before they record or tune say the same, and fail without waiting.
    for (const QStringList& args :
         {QStringList{"record", "--follow", "-", "--seconds", "5"}, QStringList{"measure", "--seconds", "5"},
          QStringList{"tune", "--noise", "1", "--settle", "100"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const CliRun cli = rig.cli(args);
        EXPECT_EQ(cli.exitCode, 1);
        EXPECT_TRUE(cli.err.contains("No COM ports available... Tarvo program will terminate!"))
            << cli.err.toStdString();
        EXPECT_TRUE(cli.out.isEmpty()) << cli.out.toStdString();
    }
}
