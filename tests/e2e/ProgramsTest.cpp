// Whole-program runs: the real binaries against tarvo-devsim on a pseudo-terminal, in real time.
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"
#include "support/SmallDisk.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

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

class ProgramsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start({"--device", "id=4114,fw=2.10,baud=115200"}));
        ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    }
    // The window program started, with its TERM handler in place and its first show done.
    bool startWindow(QProcess& program, const QProcessEnvironment& env) {
        program.setProcessEnvironment(env);
        program.start(programPath("tarvo"));
        if (!program.waitForStarted(5000))
            return false;
        // The handler comes once the windows are built; a busy machine may take a while to get there.
        QElapsedTimer started;
        started.start();
        while (!catchesTerm(program.processId())) {
            if (started.elapsed() > 30000 || program.state() != QProcess::Running)
                return false;
            QThread::msleep(50);
        }
        QThread::msleep(1000); // the first show has talked to the device
        return true;
    }
    SimulatorProcess sim;
    ProgramRig rig;
};

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
    // Time limits past their maximum are refused with it named, never wrapped round.
    for (const char* limit : {"3600001", "4294967296", "1e9", "0", "-5"}) {
        run = rig.cli({"send", "ID", "--timeout", limit}, 10000);
        EXPECT_EQ(run.exitCode, 2) << limit;
        EXPECT_TRUE(run.err.contains("--timeout needs a whole number of milliseconds from 1 to 3600000"))
            << run.err.toStdString();
    }
    run = rig.cli({"run", "ID", "--loop", "4294967296", "--count", "2"}, 10000);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("--loop needs a whole number of milliseconds from 1 to 200000"))
        << run.err.toStdString();
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

// A hang-up (the terminal that started the program closed) is a close like a TERM signal: the
// settings are saved (it once ended the program at once, saving nothing).
TEST_F(ProgramsTest, TheWindowSavesItsSettingsOnATermOrHangUpSignalAsOnAClose) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
        QProcess program;
        QProcessEnvironment env = rig.environment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        ASSERT_TRUE(startWindow(program, env));
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << signal;
        QFile ini(rig.settingsPath());
        ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
        const QByteArray text = ini.readAll();
        // Written at the close: every setting, and the port map it started with.
        EXPECT_TRUE(text.contains("[Options]\nTriggerLevel=15\n")) << signal << text.toStdString();
        EXPECT_TRUE(text.contains("COM1=" + sim.linePath(1).toLocal8Bit() + "\n"));
    }
}

TEST_F(ProgramsTest, AWindowClosedOnAFullDiskKeepsTheOldSettingsFile) {
    SmallDisk disk(64);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    QFile fixture(rig.settingsPath());
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    const QByteArray old = fixture.readAll() + "[User]\nMine=kept\n";
    ASSERT_TRUE(QDir().mkpath(disk.path("Tarvo")));
    const QString path = disk.path("Tarvo/Tarvo.ini");
    {
        QFile ini(path);
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ASSERT_EQ(ini.write(old), old.size());
    }
    disk.fill(0);
    QProcess program;
    QProcessEnvironment env = rig.environment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", disk.path());
    ASSERT_TRUE(startWindow(program, env));
    // The close cannot save: the message box that says so waits for its OK, and a second signal ends
    // the program there.
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    EXPECT_FALSE(program.waitForFinished(2000));
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(5000));
    EXPECT_EQ(program.exitCode(), 143);
    QFile ini(path);
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_EQ(ini.readAll(), old);
    EXPECT_EQ(disk.entries("Tarvo"), QStringList{"Tarvo.ini"}); // no temporary file left behind
}

namespace {
CliRun runWindowProgram(const QStringList& arguments, const QProcessEnvironment& env) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(programPath("tarvo"), arguments);
    CliRun run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(3000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}
} // namespace

TEST(WindowProgramOptions, HelpAndVersionAnswerWithoutADisplayAndAnUnknownOptionIsRefused) {
    ProgramRig rig;
    QProcessEnvironment noDisplay = rig.environment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        noDisplay.remove(name);
    for (const char* help : {"--help", "-h"}) {
        const CliRun run = runWindowProgram({help}, noDisplay);
        EXPECT_EQ(run.exitCode, 0) << help << run.err.toStdString();
        EXPECT_TRUE(run.out.startsWith("usage: tarvo [--help | --version]\n")) << run.out.toStdString();
        EXPECT_TRUE(run.out.contains("--version  print the version and exit"));
        EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    }
    const CliRun version = runWindowProgram({"--version"}, noDisplay);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("Tarvo  ver.")) << version.out.toStdString();

    // With a display, --help still answers instead of opening the window, and a mistake is said.
    QProcessEnvironment offscreen = rig.environment();
    offscreen.insert("QT_QPA_PLATFORM", "offscreen");
    EXPECT_TRUE(runWindowProgram({"--help"}, offscreen).out.startsWith("usage: tarvo"));
    const CliRun wrong = runWindowProgram({"--port", "1"}, offscreen);
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_TRUE(wrong.err.contains("tarvo: unknown option '--port'\n")) << wrong.err.toStdString();
    EXPECT_TRUE(wrong.out.isEmpty());
}
