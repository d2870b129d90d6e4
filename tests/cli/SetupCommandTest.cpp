#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace tarvo::test;

namespace {

// tarvo-cli setup against the real simulator on a pseudo-terminal: a dosing transmitter on COM1.
class SetupCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start({"--device", "line=1,id=4114,fw=2.10"}));
        ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    }
    CliRun setup(const QStringList& args) { return rig.cli(QStringList{"setup"} + args); }
    CliRun send(const QString& command) { return rig.cli({"send", command, "--start", "O"}); }

    SimulatorProcess sim;
    ProgramRig rig;
};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST_F(SetupCommandTest, ExportDiffImportAndARefusedFile) {
    const QString file = rig.filePath("line7.mxr");
    ASSERT_EQ(send("PD7 120").exitCode, 0);
    CliRun run = setup({"export", "--group", "dosing", file});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "written: " + file.toLocal8Bit() + "\n");
    EXPECT_TRUE(readAll(file).contains("[Device]\nID=4114\nFirmware=2.10\n"));
    EXPECT_TRUE(readAll(file).contains("\nPD7=120\n"));

    run = setup({"diff", "--group", "dosing", file});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "");

    ASSERT_EQ(send("PD7 130").exitCode, 0);
    ASSERT_EQ(send("PD16 7").exitCode, 0);
    run = setup({"diff", "--group", "dosing", file});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "PD7: 130 -> 120\nPD16: 7 -> 0\n");

    run = setup({"import", "--group", "dosing", file});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "saved: yes\n");
    EXPECT_TRUE(run.err.contains("Dosing set-up parameters saved successfully!"));
    EXPECT_EQ(setup({"diff", "--group", "dosing", file}).exitCode, 0);

    // A damaged entry: exit 1, the reason on standard error, the device untouched.
    const QString damaged = rig.filePath("damaged.mxr");
    QFile out(damaged);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(readAll(file).replace("PD7=120", "PD7=12.5").replace("PD8=0", "PD8=55"));
    out.close();
    run = setup({"import", "--group", "dosing", damaged});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("Setup file " + damaged.toLocal8Bit() +
                                 ": PD7 = '12.5' is not a whole number; nothing was written"))
        << run.err.toStdString();
    EXPECT_EQ(setup({"diff", "--group", "dosing", file}).exitCode, 0);

    // A check-weigher's group has its own sections.
    SimulatorProcess checkWeigher;
    ASSERT_TRUE(checkWeigher.start({"--device", "line=1,id=4113"}));
    ASSERT_TRUE(rig.writeSettings(checkWeigher.linePath(1)));
    const QString cw = rig.filePath("cw.mxr");
    run = setup({"export", "--group", "checkweigher", cw});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(readAll(cw).contains("\n[Setpoint 0]\nSetpoint=0\n"));
    EXPECT_TRUE(readAll(cw).endsWith("[HoldTime]\nHoldtime=500\n"));
    run = setup({"import", "--group", "checkweigher", cw});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "saved: yes\n");
    // Its set-points are stored by a command of their own: refused, the import is no success. Nor is one
    // whose device did not say its trigger edge, which the write would have set to a guess.
    for (const QByteArray& refused : {QByteArray("SS"), QByteArray("TE?")}) {
        SCOPED_TRACE(refused.toStdString());
        ASSERT_EQ(checkWeigher.control("refuse 1 0 " + refused), "ok");
        checkWeigher.control("heard 1 0");
        run = setup({"import", "--group", "checkweigher", cw});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.out, "saved: yes\n");
        // Said once, though the window shows it on the information line and in a box.
        const QByteArray said = refused == "SS" ? "Setpoints NOT saved!" : "did not answer the read";
        EXPECT_EQ(run.err.count(said), 1) << run.err.toStdString();
        const QStringList heard = checkWeigher.control("heard 1 0").mid(3).split('|');
        EXPECT_EQ(heard.contains("WP"), refused == "SS") << heard.join(' ').toStdString();
        ASSERT_EQ(checkWeigher.control("refuse 1 0 none"), "ok");
    }

    EXPECT_EQ(setup({"export", file}).exitCode, 2);
    EXPECT_EQ(setup({"copy", "--group", "dosing", file}).exitCode, 2);
}

// An export onto a device is a failure that names the reason, and the device stays a device (the
// machine's /dev/full was once replaced by a setup file, "written"); an empty file is no setup file
// and sends the device nothing (it once imported as sixteen zeros, "saved: yes").
TEST_F(SetupCommandTest, AnExportOntoADeviceFailsAndAnEmptyFileImportsNothing) {
    ASSERT_EQ(send("PD7 120").exitCode, 0);
    // A full device of its own (a pipe where the test may not make one); never the machine's.
    QString device = rig.filePath("full");
    QString kind = "a character device";
    if (::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        device = rig.filePath("pipe.mxr");
        kind = "a pipe";
        ASSERT_EQ(::mkfifo(QFile::encodeName(device).constData(), 0666), 0);
    }
    CliRun run = setup({"export", "--group", "dosing", device});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.contains(" Can not write file!\n" + device.toLocal8Bit() + ": Is " +
                                 kind.toLocal8Bit() + ", not a regular file"))
        << run.err.toStdString();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(device).constData(), &info), 0);
    EXPECT_FALSE(S_ISREG(info.st_mode));

    const QString empty = rig.filePath("empty.mxr");
    QFile out(empty);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.close();
    run = setup({"import", "--group", "dosing", empty});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(run.out.contains("saved: yes"));
    EXPECT_TRUE(
        run.err.contains("Setup file " + empty.toLocal8Bit() +
                         ": has no [DosingCommand] section: it is not a dosing setup file; nothing was "
                         "written"))
        << run.err.toStdString();
    // The device kept its parameters.
    const QString after = rig.filePath("after.mxr");
    ASSERT_EQ(setup({"export", "--group", "dosing", after}).exitCode, 0);
    EXPECT_TRUE(readAll(after).contains("\nPD7=120\n"));
}
