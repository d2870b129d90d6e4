// Whole-program runs: the real binaries against tarvo-devsim on a pseudo-terminal, in real time.
#include "support/QtPrinters.h"
#include "support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

// A simulator on a pseudo-terminal linked at <dir>/com1, and a configuration folder whose
// "Tarvo.ini" maps COM1 to it and leaves COM2..COM8 without a port.
class SimulatorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        link = dir.filePath("com1");
        sim.setProgram(programPath("tarvo-devsim"));
        sim.setArguments({"--device", "id=4114,fw=2.10,baud=115200", "--link", "1=" + link});
        sim.start();
        ASSERT_TRUE(sim.waitForStarted(5000));
        for (int i = 0; i < 100 && !QFile::exists(link); ++i)
            QThread::msleep(50);
        ASSERT_TRUE(QFile::exists(link)) << "the simulator made no link";
        QDir(dir.path()).mkpath("config/Tarvo");
        QFile ini(dir.filePath("config/Tarvo/Tarvo.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        QByteArray text = "[Port]\nBaud=115200\nComNumber=1\n[ComPorts]\nCOM1=" + link.toUtf8() + "\n";
        for (int n = 2; n <= 8; ++n)
            text += "COM" + QByteArray::number(n) + "=\n";
        ini.write(text);
    }
    void TearDown() override {
        sim.terminate();
        if (!sim.waitForFinished(3000))
            sim.kill();
    }
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        return env;
    }
    QTemporaryDir dir;
    QString link;
    QProcess sim;
};

} // namespace

TEST_F(SimulatorFixture, CliSendPrintsTheDeviceIdentity) {
    QProcess cli;
    cli.setProcessEnvironment(environment());
    cli.start(programPath("tarvo-cli"), {"send", "ID", "--start", "D:", "--com", "1", "--baud", "115200"});
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.readAllStandardOutput(), "4114\n");
    // The settings file is only read.
    QFile ini(dir.filePath("config/Tarvo/Tarvo.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().startsWith("[Port]\nBaud=115200\n"));
}

TEST_F(SimulatorFixture, CliSendTimesOutOnASilentCommandAndRejectsBadUsage) {
    QProcess cli;
    cli.setProcessEnvironment(environment());
    cli.start(programPath("tarvo-cli"),
              {"send", "ID", "--start", "Q:", "--timeout", "200", "--com", "1", "--baud", "115200"});
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_EQ(cli.readAllStandardOutput(), "TimeOutErr\n");

    cli.start(programPath("tarvo-cli"), {"send", "ID", "--com", "9"});
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 2);
    cli.start(programPath("tarvo-cli"), {"send", "ID", "--com", "2"});
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 2);
    EXPECT_TRUE(cli.readAllStandardError().contains("COM2 not available"));
}

TEST_F(SimulatorFixture, ProgramShowsItsWindowUnderARealXServer) {
    const QString xvfb = QStandardPaths::findExecutable("xvfb-run");
    const QString xwininfo = QStandardPaths::findExecutable("xwininfo");
    if (xvfb.isEmpty() || xwininfo.isEmpty())
        GTEST_SKIP() << "xvfb-run or xwininfo missing";
    // Start the program on a private X server, then list that server's windows from inside it.
    const QString script =
        QStringLiteral(
            "\"%1\" & pid=$!; for i in $(seq 100); do "
            "if xwininfo -root -tree | grep -q 'Tarvo  ver.2.0.6'; then found=1; break; fi; sleep 0.1; done; "
            "kill $pid; wait $pid 2>/dev/null; [ \"$found\" = 1 ] && echo shown")
            .arg(programPath("tarvo"));
    QProcess run;
    QProcessEnvironment env = environment();
    env.remove("QT_QPA_PLATFORM");
    run.setProcessEnvironment(env);
    run.start(xvfb, {"-a", "sh", "-c", script});
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.readAllStandardOutput().trimmed(), "shown") << run.readAllStandardError().toStdString();
}
