// tarvo-cli send against the real simulator on a pseudo-terminal: a script reads from the exit status
// whether the device took the command.
#include "support/LockedTerminal.h"
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tarvo::test;

namespace {

class SendCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start({"--device", "id=4114,fw=2.10,baud=115200"}));
        ASSERT_TRUE(rig.writeSettings(sim.linePath(1))); // COM1 at 115200, COM2..COM8 without a port
    }
    CliRun send(const QStringList& args) const { return rig.cli(QStringList{"send"} + args, 20000); }

    SimulatorProcess sim;
    ProgramRig rig;
};

} // namespace

TEST_F(SendCommandTest, ExitStatusSeparatesAnswersFromFailuresAndUsageErrors) {
    // Answered: the write reaches the device, the read brings it back.
    CliRun run = send({"TL 200"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "OK\n");
    run = send({"TL"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "T+00200\n");

    // Refused: the reply is still printed for the script to see.
    ASSERT_EQ(sim.control("fault 1 err"), "ok");
    run = send({"TL 300"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "ERR\n");

    ASSERT_EQ(sim.control("fault 1 silent"), "ok");
    run = send({"ID", "--timeout", "300"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "TimeOutErr\n");

    ASSERT_EQ(sim.control("fault 1 none"), "ok");
    run = send({"ID", "--com", "3"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err, "tarvo-cli send: COM3 not available: no port is mapped to COM3\n");

    for (const QStringList& args : {QStringList{}, QStringList{"ID", "--com", "9"},
                                    QStringList{"ID", "--timeout", "0"}, QStringList{"ID", "--colour"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        run = send(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(run.err.startsWith("tarvo-cli send: ")) << run.err.toStdString();
    }
    // The refused write never changed the device.
    EXPECT_EQ(send({"TL"}).out, "T+00200\n");
}

TEST(SendCommandPermissionTest, ALockedPortNamesTheDialoutGroupOnStandardError) {
    LockedTerminal locked;
    ASSERT_FALSE(locked.path().isEmpty()) << "no pseudo-terminal";
    const Nobody who = nobody();
    if (::getuid() == 0) {
        ASSERT_TRUE(who.found) << "the program runs as user nobody when the test runs as root";
    }
    ProgramRig rig;
    ASSERT_TRUE(rig.writeSettings(locked.path()));
    // The unprivileged program must be able to read its configuration.
    const QString top = QFileInfo(rig.configDir()).path();
    for (const QString& dir : {top, rig.configDir(), rig.configDir() + "/Tarvo"})
        ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(rig.settingsPath()).constData(), 0644), 0);

    // The checkout may lie where nobody cannot enter (a 0700 home, a mktemp -d folder): the program is
    // then run from a copy in a folder anyone may enter.
    QString program = programPath("tarvo-cli");
    QTemporaryDir reachable;
    bool nobodyReaches = true;
    {
        ActingAsNobody unprivileged;
        nobodyReaches = ::faccessat(AT_FDCWD, QFile::encodeName(program).constData(), X_OK, AT_EACCESS) == 0;
    }
    if (!nobodyReaches) {
        ASSERT_TRUE(reachable.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(reachable.path()).constData(), 0755), 0);
        const QString copy = reachable.filePath("tarvo-cli");
        ASSERT_TRUE(QFile::copy(program, copy));
        ASSERT_EQ(::chmod(QFile::encodeName(copy).constData(), 0755), 0);
        program = copy;
    }
    QProcess process;
    process.setProcessEnvironment(rig.environment());
    process.setChildProcessModifier([who] { becomeInChild(who); });
    process.start(program, {"send", "ID"});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
    const QByteArray err = process.readAllStandardError();
    EXPECT_TRUE(err.contains("tarvo-cli send: COM1 not available: permission denied: add your user to the "
                             "dialout group and log in again\n"))
        << err.toStdString();
}
