// tarvo-cli over the CAN bus as a script on a production line uses it: every command reaches the bus
// before the program ends, values carry the device's decimals, and what it prints is readable.
#include "CanRig.h"
#include "protocol/CommandTable.h"

#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

const char* kDevice = "id=4113,fw=2.06,decimals=1,weight=12.5,update=20,pupdate=20";

class CanCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.start({kDevice}));
        // COM1 names no port at all: over CAN nothing may depend on it.
        ASSERT_TRUE(
            rig.writeSettings("/nonexistent/tty", "[Port]\nBaud=115200\nComNumber=1\n" + canBusSettings()));
    }
    // The frames of a finished run (the simulator's answers and process frames left out).
    QStringList requestsHeard() {
        QTest::qWait(100); // the last frame may still be on its way through the bus's server
        QStringList out;
        for (const QString& f : bus.frames())
            if (!f.startsWith("581:") && !f.startsWith("181:") && !f.startsWith("281:") &&
                !f.startsWith("381:"))
                out << f;
        return out;
    }

    CanBusRig bus;
    ProgramRig rig;
};

} // namespace

TEST_F(CanCli, EveryProcessCommandReachesTheBusBeforeTheProgramEnds) {
    // The stream starts answer "OK" only for a frame that went out.
    const QList<std::pair<QString, QString>> streamStarts{
        {"SN", "201:0080"}, {"SG", "201:0040"}, {"SA", "301:0002"}, {"GP-1", "201:0080"}};
    for (const auto& [command, frame] : streamStarts) {
        bus.frames();
        const CliRun run = rig.cli({"send", command});
        EXPECT_EQ(run.exitCode, 0) << command.toStdString() << ": " << run.err.toStdString();
        EXPECT_EQ(run.out, "OK\n") << command.toStdString();
        const QStringList heard = requestsHeard();
        EXPECT_EQ(heard.last(), frame) << command.toStdString() << ": " << heard.join(' ').toStdString();
        EXPECT_EQ(heard.first(), "0:01") << command.toStdString(); // the process channel started first
    }

    // The process commands of the table set no answer text; their frame is what counts.
    int processRows = 0;
    for (const CommandEntry& row : kCommandTable) {
        if (row.kind != 6 && row.kind != 7)
            continue;
        ++processRows;
        const QString command = QString(QChar(row.mnemonic1)) + QChar(row.mnemonic2);
        const QString frame = QStringLiteral("%1:00%2")
                                  .arg(row.kind == 6 ? "201" : "301")
                                  .arg(row.objectIndex & 0xFF, 2, 16, QLatin1Char('0'));
        bus.frames();
        const CliRun run = rig.cli({"send", command});
        EXPECT_EQ(requestsHeard(), QStringList{frame})
            << command.toStdString() << ": " << run.err.toStdString();
        EXPECT_FALSE(run.out.contains("OK")) << command.toStdString();
    }
    EXPECT_EQ(processRows, 5);

    // find ends with its stream start, which must go out too.
    bus.frames();
    const CliRun find = rig.cli({"find"});
    EXPECT_EQ(find.exitCode, 0) << find.err.toStdString();
    EXPECT_EQ(requestsHeard().last(), "201:0080");
}

TEST_F(CanCli, MeasuredValuesCarryTheDevicesDecimalsAndNothingIsSaidOfSerialPorts) {
    CliRun run = rig.cli({"send", "GG"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "G+0012.5\n");
    EXPECT_FALSE(run.err.contains("COM1")) << run.err.toStdString();
    run = rig.cli({"send", "GN"});
    EXPECT_EQ(run.out, "N+0012.5\n");
    EXPECT_EQ(rig.cli({"send", "GN", "--address", "00"}).out, "N+0012.5\n");
    run = rig.cli({"send", "GA"});
    EXPECT_EQ(run.out, "A+0012.5\n");
    EXPECT_FALSE(run.err.contains("not available")) << run.err.toStdString();

    // --timeout, when given, bounds the whole exchange over CAN too.
    ASSERT_EQ(bus.sim->control("can delay 1000"), "ok");
    run = rig.cli({"send", "FL", "--timeout", "300"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "TimeOutErr\n");
    run = rig.cli({"send", "FL"}); // the bridge's own limit waits for a late answer
    EXPECT_EQ(run.out, "F+00003\n");
    ASSERT_EQ(bus.sim->control("can delay 0"), "ok");
}

TEST_F(CanCli, RunGoesOverTheCanBusWhenTheSettingsChooseIt) {
    bus.frames();
    const CliRun run = rig.cli({"run", "ID+IV+"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("D:4113")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("V:0206")) << run.out.toStdString();
    const QStringList heard = requestsHeard();
    EXPECT_TRUE(heard.contains("601:4000290800000000")) << heard.join(' ').toStdString(); // "ID"
    EXPECT_FALSE(run.err.contains("COM1")) << run.err.toStdString();
}

TEST_F(CanCli, RecordAndSetupWorkOverTheBusAndImageSaysItNeedsASerialPort) {
    CliRun run = rig.cli({"setup", "export", rig.filePath("setup.txt"), "--group", "checkweigher"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    QFile setup(rig.filePath("setup.txt"));
    ASSERT_TRUE(setup.open(QIODevice::ReadOnly));
    EXPECT_TRUE(setup.readAll().startsWith("[Device]\nID=4113\nFirmware=0206\n"));

    run = rig.cli({"record", "--seconds", "1", "--csv", rig.filePath("run.csv")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(QFile::exists(rig.filePath("run.csv")));
    EXPECT_TRUE(requestsHeard().contains("201:0080")); // the recording's packet stream, asked for over CAN

    run = rig.cli({"image", "get", rig.filePath("image.txt")}, 5000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("a settings image travels over a serial port only"))
        << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(rig.filePath("image.txt")));
}

TEST_F(CanCli, ErrorReportsPrintOneLinePerPartAndNameWhatIsKnown) {
    // A plugin that is not there: the report's code, its name and the plain words, each on its own line.
    ASSERT_TRUE(rig.writeSettings("/nonexistent/tty", "[Port]\nBaud=115200\nComNumber=1\n[CAN]\nCANbus=1\n"
                                                      "Plugin=no-such-plugin\nInterface=can0\n"));
    const CliRun run = rig.cli({"send", "FL"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "TimeOutErr\n");
    EXPECT_FALSE(run.err.contains('\r')) << run.err.toStdString();
    const QList<QByteArray> lines = run.err.split('\n');
    EXPECT_TRUE(lines.contains("USB2CAN ERROR: Error Code = 0200")) << run.err.toStdString();
    EXPECT_TRUE(lines.contains("CAN_ERR_NOVXD")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("COM1")) << run.err.toStdString();
}

// The bus goes away in the middle of a measurement (the adapter pulled, here the bus's server ended): the
// measurement ends at once as a failure, as it does on a lost serial port, instead of printing statistics
// of what it had as a success.
TEST_F(CanCli, AMeasurementWhoseBusGoesAwayEndsAsAFailure) {
    QProcess cli;
    cli.setProcessEnvironment(rig.environment());
    QElapsedTimer clock;
    clock.start();
    cli.start(programPath("tarvo-cli"), {"measure", "--seconds", "8"});
    ASSERT_TRUE(cli.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return cli.readAllStandardError().contains("samples:"); }, 10000));
    bus.stop();
    ASSERT_TRUE(cli.waitForFinished(20000));
    EXPECT_EQ(cli.exitCode(), 1) << cli.readAllStandardError().toStdString();
    EXPECT_LT(clock.elapsed(), 8000);
}

// With no device on the bus, a stream start goes out but nothing hears it: "OK" is the bridge's reply
// text, and the status says that no device confirmed it.
TEST_F(CanCli, AStreamStartNoDeviceHeardIsNoSuccess) {
    bus.stop();
    CliRun run = rig.cli({"send", "SN", "--timeout", "1500"});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_EQ(run.out, "OK\n");
    EXPECT_TRUE(run.err.contains("no device answered on the CAN bus")) << run.err.toStdString();
    run = rig.cli({"run", "SN+"}, 30000);
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("SN: no device answered on the CAN bus")) << run.err.toStdString();
}

// Following over the bus: the bridge's process frames become samples, labelled with the node; what only
// works on a serial line (polling addresses, the filter search) says so before anything is sent.
TEST_F(CanCli, RecordFollowRecordsTheBusAndSerialOnlyWorkSaysSo) {
    CliRun run =
        rig.cli({"record", "--follow", "--format", "jsonl", "--seconds", "2", rig.filePath("f.jsonl")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    QFile file(rig.filePath("f.jsonl"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> records = file.readAll().split('\n');
    int samples = 0;
    for (const QByteArray& r : records)
        if (r.contains("\"seq\"") && !r.contains("\"event\""))
            ++samples;
    EXPECT_GT(samples, 20) << records.join('\n').toStdString();
    EXPECT_TRUE(records.first().contains("\"port\":\"CAN_ADDR_1\"")) << records.first().toStdString();
    EXPECT_FALSE(records.join('\n').contains("link lost"));

    QTest::qWait(300); // the run's last frames reach the listener
    bus.frames();
    run = rig.cli({"record", "--follow", "--seconds", "1", "--address", "5", "-"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("--address polls over a serial port")) << run.err.toStdString();
    run = rig.cli({"tune", "--noise", "1", "--settle", "2000"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("nothing was sent")) << run.err.toStdString();
    const QStringList heard = requestsHeard();
    EXPECT_TRUE(heard.isEmpty()) << heard.join(' ').toStdString();
}
