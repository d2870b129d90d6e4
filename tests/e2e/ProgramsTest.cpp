// Whole-program runs: the real binaries against tarvo-devsim on a pseudo-terminal, in real time.
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

class ProgramsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start({"--device", "id=4114,fw=2.10,baud=115200"}));
        ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    }
    SimulatorProcess sim;
    ProgramRig rig;
};

// Whether the process has a handler of its own for SIGTERM (its caught-signal mask says so).
bool catchesTerm(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    return false;
}

} // namespace

TEST_F(ProgramsTest, CliSendPrintsTheDeviceIdentity) {
    const CliRun run = rig.cli({"send", "ID", "--start", "D:", "--com", "1", "--baud", "115200"}, 10000);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "4114\n");
    // Port and rate come from the settings file, which is only read.
    EXPECT_EQ(rig.cli({"send", "IV", "--start", "V:"}, 10000).out, "2.10\n");
    QFile ini(rig.settingsPath());
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().endsWith("[Port]\nBaud=115200\nComNumber=1\n"));
}

TEST_F(ProgramsTest, CliSendTimesOutOnASilentCommandAndRejectsBadUsage) {
    CliRun run = rig.cli({"send", "ID", "--start", "Q:", "--timeout", "200"}, 10000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "TimeOutErr\n");
    EXPECT_EQ(rig.cli({"send", "ID", "--com", "9"}, 10000).exitCode, 2);
    // A port that cannot be opened is a failure, not a usage error.
    run = rig.cli({"send", "ID", "--com", "2"}, 10000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("COM2 not available"));
}

TEST_F(ProgramsTest, ProgramShowsItsWindowUnderARealXServer) {
    const QString xvfb = QStandardPaths::findExecutable("xvfb-run");
    const QString xwininfo = QStandardPaths::findExecutable("xwininfo");
    if (xvfb.isEmpty() || xwininfo.isEmpty())
        GTEST_SKIP() << "xvfb-run or xwininfo missing";
    // Start the program on a private X server, then list that server's windows from inside it. The
    // title must be the caption exactly, with nothing appended to it.
    const QString script =
        QStringLiteral("\"%1\" & pid=$!; for i in $(seq 100); do "
                       "if xwininfo -root -tree | grep -qF '\"Tarvo  ver.2.0.6\":'; then found=1; break; fi; "
                       "sleep 0.1; done; kill $pid; wait $pid 2>/dev/null; [ \"$found\" = 1 ] && echo shown")
            .arg(programPath("tarvo"));
    QProcess run;
    QProcessEnvironment env = rig.environment();
    env.remove("QT_QPA_PLATFORM");
    run.setProcessEnvironment(env);
    run.start(xvfb, {"-a", "sh", "-c", script});
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.readAllStandardOutput().trimmed(), "shown") << run.readAllStandardError().toStdString();
}

TEST_F(ProgramsTest, TheWindowSavesItsSettingsOnATermSignalAsOnAClose) {
    QProcess program;
    QProcessEnvironment env = rig.environment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(programPath("tarvo"));
    ASSERT_TRUE(program.waitForStarted(5000));
    // The handler is in place once the windows are built; a busy machine may take a while to get there.
    QElapsedTimer started;
    started.start();
    while (!catchesTerm(program.processId()) && started.elapsed() < 30000 &&
           program.state() == QProcess::Running)
        QThread::msleep(50);
    ASSERT_TRUE(catchesTerm(program.processId())) << program.readAllStandardError().toStdString();
    QThread::msleep(1000); // the first show has talked to the device
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    QFile ini(rig.settingsPath());
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray text = ini.readAll();
    // Written at the close: every setting, and the port map it started with.
    EXPECT_TRUE(text.contains("[Options]\nTriggerLevel=15\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("COM1=" + sim.linePath(1).toLocal8Bit() + "\n"));
}
