// tarvo-cli record against the real simulator on a pseudo-terminal, in real time.
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"
#include "support/SmallDisk.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

// tarvo-cli record running while the test acts on it.
class RunningRecord {
public:
    RunningRecord(const ProgramRig& rig, const QStringList& args) {
        process.setProcessEnvironment(rig.environment());
        process.start(programPath("tarvo-cli"), QStringList{"record"} + args);
        process.waitForStarted(5000);
    }
    ~RunningRecord() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    // Waits until standard error shows the pattern; false after the real-time limit.
    bool waitForStderr(const QRegularExpression& pattern, int ms = 20000) {
        QElapsedTimer t;
        t.start();
        while (!pattern.match(QString::fromLocal8Bit(err)).hasMatch()) {
            if (t.elapsed() > ms || process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(100);
            err += process.readAllStandardError();
        }
        return true;
    }
    // Real milliseconds until the program ended, or -1.
    qint64 waitForEnd(int ms) {
        QElapsedTimer t;
        t.start();
        if (!process.waitForFinished(ms))
            return -1;
        err += process.readAllStandardError();
        return t.elapsed();
    }
    void signal(int number) { ::kill(static_cast<pid_t>(process.processId()), number); }
    int lastCount() const {
        static const QRegularExpression count("samples: (\\d+)\\n");
        int last = -1;
        for (const QRegularExpressionMatch& m : count.globalMatch(QString::fromLocal8Bit(err)))
            last = m.captured(1).toInt();
        return last;
    }

    QProcess process;
    QByteArray err;
};

int csvRows(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? static_cast<int>(file.readAll().count('\n')) - 2 : -1;
}

const QRegularExpression kSomeSamples("samples: [1-9]");

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

// A place that cannot take the file is said before anything is recorded, with the system's reason; a
// device or a pipe named as the file stays what it is (a node was once replaced by a regular file).
TEST_F(RecordTest, ADestinationThatCannotTakeTheFileIsRefusedBeforeRecording) {
    // A null device of its own; never the machine's, which a regression would replace for every program.
    const QString node = rig.filePath("null");
    const bool haveNode = ::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const QString fifo = rig.filePath("pipe.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    ASSERT_TRUE(QDir().mkpath(rig.filePath("folder.csv")));
    QList<std::pair<QString, QString>> cases{
        {rig.filePath("missing/x.csv"), "No such file or directory"},
        {rig.filePath("folder.csv"), "Is a directory"},
        {fifo, "Is a pipe, not a regular file"},
    };
    if (haveNode)
        cases.append({node, "Is a character device, not a regular file"});
    SmallDisk disk(64);
    if (disk.mounted() && disk.makeReadOnly())
        cases.append({disk.path("ro.csv"), "Read-only file system"});
    for (const auto& [path, reason] : cases) {
        QByteArray err;
        EXPECT_EQ(record({"--seconds", "2", "--csv", path}, &err), 1) << path.toStdString();
        EXPECT_EQ(err, "tarvo-cli record: " + path.toLocal8Bit() + ": " + reason.toLocal8Bit() +
                           "; nothing was recorded\n");
    }
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    if (haveNode) {
        ASSERT_EQ(::stat(QFile::encodeName(node).constData(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
    EXPECT_FALSE(QFile::exists(rig.filePath("missing")));
}

// Whole or decimal seconds up to a day; anything past it, or written otherwise, is refused with the
// maximum named (4294968 s once wrapped round to 0.95 s, 2147484 s to a negative timer).
TEST_F(RecordTest, DurationsAreWholeOrDecimalSecondsUpToADay) {
    const QString csv = rig.filePath("short.csv");
    for (const QString& seconds :
         QStringList{"4294968", "2147484", "86401", "86400.5", "1e9", "-1", "0", "0.0001", "inf", "2s", ""}) {
        QByteArray err;
        EXPECT_EQ(record({"--seconds", seconds, "--csv", csv}, &err), 2) << seconds.toStdString();
        EXPECT_EQ(err, "tarvo-cli record: --seconds needs a number of seconds from 0.001 to 86400, whole or "
                       "decimal (e.g. 2 or 0.5)\n")
            << seconds.toStdString();
    }
    EXPECT_FALSE(QFile::exists(csv));
    QByteArray err;
    ASSERT_EQ(record({"--seconds", "0.5", "--csv", csv}, &err), 0) << err.toStdString();
    EXPECT_GT(csvRows(csv), 0);
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

TEST_F(RecordTest, AnUnpluggedLineEndsTheRecordingAtOnceKeepsTheRowsAndFails) {
    const QString csv = rig.filePath("unplugged.csv");
    RunningRecord record(rig, {"--seconds", "30", "--csv", csv});
    ASSERT_TRUE(record.waitForStderr(kSomeSamples)) << record.err.toStdString();
    sim.stop(); // the pseudo-terminal closes
    const qint64 ms = record.waitForEnd(5000);
    ASSERT_GE(ms, 0) << "still running after the line closed";
    EXPECT_EQ(record.process.exitCode(), 1);
    EXPECT_TRUE(record.err.contains("COM1 not available: Input/output error")) << record.err.toStdString();
    EXPECT_GT(csvRows(csv), 0);
    EXPECT_EQ(csvRows(csv), record.lastCount());
}

TEST_F(RecordTest, TheFirstSignalWritesWhatWasCapturedAndASecondEndsAtOnce) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const QString csv = rig.filePath(QStringLiteral("signal%1.csv").arg(signal));
        RunningRecord record(rig, {"--seconds", "30", "--csv", csv});
        ASSERT_TRUE(record.waitForStderr(kSomeSamples)) << record.err.toStdString();
        record.signal(signal);
        ASSERT_GE(record.waitForEnd(5000), 0);
        EXPECT_EQ(record.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(record.process.exitCode(), 130) << record.err.toStdString();
        EXPECT_GT(record.lastCount(), 0);
        EXPECT_EQ(csvRows(csv), record.lastCount());
    }
    // A device that never answers keeps the search busy: the first signal waits for it, the second
    // does not.
    ASSERT_EQ(sim.control("fault 1 silent"), "ok");
    const QString csv = rig.filePath("searching.csv");
    RunningRecord record(rig, {"--seconds", "30", "--csv", csv});
    QThread::msleep(1500);
    record.signal(SIGTERM);
    ASSERT_FALSE(record.process.waitForFinished(300)) << "the search ended too soon to tell";
    record.signal(SIGTERM);
    ASSERT_GE(record.waitForEnd(2000), 0);
    EXPECT_EQ(record.process.exitCode(), 130);
    EXPECT_FALSE(QFile::exists(csv));
}

TEST_F(RecordTest, ASilentDeviceIsMentionedOnStandardErrorAndTheRecordingGoesOn) {
    const QString csv = rig.filePath("silent.csv");
    RunningRecord record(rig, {"--seconds", "7", "--csv", csv});
    ASSERT_TRUE(record.waitForStderr(kSomeSamples)) << record.err.toStdString();
    ASSERT_EQ(sim.control("fault 1 silent"), "ok");
    ASSERT_TRUE(record.waitForStderr(QRegularExpression("no data from COM1 for 2 s\n"), 5000))
        << record.err.toStdString();
    QThread::msleep(1500); // said once however long the silence lasts
    ASSERT_EQ(sim.control("fault 1 none"), "ok");
    // Data again is said too, with how long it was missing.
    const QRegularExpression resumed("data from COM1 again after (\\d+\\.\\d) s\n");
    ASSERT_TRUE(record.waitForStderr(resumed, 5000)) << record.err.toStdString();
    const double silentFor = resumed.match(QString::fromLocal8Bit(record.err)).captured(1).toDouble();
    EXPECT_GE(silentFor, 3.0);
    EXPECT_LT(silentFor, 60.0);
    ASSERT_GE(record.waitForEnd(15000), 0);
    EXPECT_EQ(record.process.exitCode(), 0) << record.err.toStdString();
    EXPECT_EQ(record.err.count("no data from COM1 for 2 s\n"), 1);
    EXPECT_EQ(record.err.count("data from COM1 again after"), 1);
    EXPECT_EQ(csvRows(csv), record.lastCount());
}

TEST_F(RecordTest, ARecordingThatFindsTheDiskFullSaysWhyAndKeepsTheOldFile) {
    SmallDisk disk(64);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    const QString csv = disk.path("full.csv");
    {
        QFile old(csv);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents\n");
    }
    disk.fill(0);
    QByteArray err;
    EXPECT_EQ(record({"--seconds", "2", "--csv", csv}, &err), 1);
    EXPECT_TRUE(err.contains(" Can not write file!\n" + csv.toLocal8Bit() + ": No space left on device\n"))
        << err.toStdString();
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "old contents\n");
    EXPECT_EQ(disk.entries(), QStringList{"full.csv"});
}
