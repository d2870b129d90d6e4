// "record --follow" against a simulator that streams as a real transmitter does: every sample written as
// it arrives, numbered without a gap, attributed to its device; a silent device is an event in the stream
// and is followed again once it answers; a signal ends the recording with every line complete; and the
// jsonl stream reaches a real MQTT broker's subscribers whole and in order.
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace tarvo::test;

namespace {

QList<QJsonObject> jsonLines(const QByteArray& text) {
    QList<QJsonObject> objects;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_TRUE(doc.isObject()) << line.toStdString();
        objects.append(doc.object());
    }
    return objects;
}

// The samples' sequence numbers run 1, 2, 3, ... with no gap and no repeat; returns how many samples.
int checkSequence(const QList<QJsonObject>& objects) {
    int expected = 1;
    for (const QJsonObject& o : objects) {
        if (o.contains("event"))
            continue;
        EXPECT_EQ(o.value("seq").toInt(), expected) << QJsonDocument(o).toJson().toStdString();
        expected = o.value("seq").toInt() + 1;
    }
    return expected - 1;
}

// A jsonl value of the plug-in whose line counter starts at (cycle + 1) * 1000 (no decimals).
QRegularExpression plugInValue(int cycle) {
    return QRegularExpression(QStringLiteral("\"value\":%1\\d{3},").arg(cycle + 1));
}

int reportedSamples(const QByteArray& err) {
    static const QRegularExpression pattern("samples: (\\d+)\\n");
    const QRegularExpressionMatch m = pattern.match(QString::fromLocal8Bit(err));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

class FollowRecordingTest : public ::testing::Test {
protected:
    void start(const QString& device) {
        ASSERT_TRUE(sim.start({"--device", device}));
        ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    }
    // A follow run in the background, its standard output read as it comes.
    void startFollow(QProcess& process, const QStringList& args) {
        process.setProcessEnvironment(rig.environment());
        process.start(programPath("tarvo-cli"), QStringList{"record", "--follow"} + args);
        ASSERT_TRUE(process.waitForStarted(5000));
    }
    // Waits (at most timeLimitMs) until the output holds needle (that many times).
    static bool waitForOutput(QProcess& process, QByteArray& out, const QByteArray& needle, int timeLimitMs,
                              qsizetype times = 1) {
        QDeadlineTimer deadline(timeLimitMs);
        while (!deadline.hasExpired()) {
            out += process.readAllStandardOutput();
            if (out.count(needle) >= times)
                return true;
            process.waitForReadyRead(100);
        }
        return false;
    }

    // Waits (at most timeLimitMs) until the output holds a match of pattern.
    static bool waitForOutput(QProcess& process, QByteArray& out, const QRegularExpression& pattern,
                              int timeLimitMs) {
        QDeadlineTimer deadline(timeLimitMs);
        while (!deadline.hasExpired()) {
            out += process.readAllStandardOutput();
            if (pattern.match(QString::fromUtf8(out)).hasMatch())
                return true;
            process.waitForReadyRead(100);
        }
        return false;
    }

    SimulatorProcess sim;
    ProgramRig rig;
};

} // namespace

TEST_F(FollowRecordingTest, EverySampleIsWrittenAsItArrivesInBothFormats) {
    start("line=1,id=4110,fw=1.00,weight=12.5,stream=SN,update=20");

    // jsonl on standard output: one object a sample, numbered, timed to the millisecond, with its source.
    CliRun run = rig.cli({"record", "--follow", "--format", "jsonl", "-", "--seconds", "2"}, 30000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QJsonObject> objects = jsonLines(run.out);
    const int samples = checkSequence(objects);
    EXPECT_GT(samples, 20);
    EXPECT_EQ(samples, objects.size());
    EXPECT_EQ(reportedSamples(run.err), samples) << run.err.toStdString();
    static const QRegularExpression iso("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$");
    for (const QJsonObject& o : objects) {
        EXPECT_TRUE(iso.match(o.value("time").toString()).hasMatch())
            << o.value("time").toString().toStdString();
        const QJsonObject device = o.value("device").toObject();
        EXPECT_EQ(device.value("identity").toInt(), 4110);
        EXPECT_EQ(device.value("address").toString(), "None");
        EXPECT_EQ(device.value("port").toString(), "COM1");
        EXPECT_EQ(o.value("value").toDouble(), 12.5);
        EXPECT_EQ(o.value("decimals").toInt(), 1);
        EXPECT_EQ(o.value("text").toString(), "+0012.5");
    }

    // csv into a file: the graph data file's two lines, then the value in counts and the milliseconds.
    const QString csv = rig.filePath("follow.csv");
    run = rig.cli({"record", "--follow", csv, "--seconds", "2"}, 30000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    ASSERT_GT(rows.size(), 22);
    EXPECT_EQ(rows[0], ">Change this text in Graph Options<");
    EXPECT_EQ(rows[1], "GraphData,Milliseconds");
    EXPECT_TRUE(rows.last().isEmpty()); // the last line is complete
    qint64 previous = -1;
    for (qsizetype i = 2; i + 1 < rows.size(); ++i) {
        const QList<QByteArray> fields = rows[i].split(',');
        ASSERT_EQ(fields.size(), 2) << rows[i].toStdString();
        EXPECT_EQ(fields[0], "125");
        EXPECT_GE(fields[1].toLongLong(), previous);
        previous = fields[1].toLongLong();
    }
    EXPECT_EQ(reportedSamples(run.err), rows.size() - 3);
}

TEST_F(FollowRecordingTest, AtTheFullLineRateEveryLineTheDeviceSentIsThereOnceAndInTime) {
    // 8-byte lines back to back at 115200 baud: 1,440 a second; the device numbers its lines.
    start("line=1,id=4110,fw=1.00,decimals=0,counter=0,stream=SN,update=0");
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const CliRun run = rig.cli({"record", "--follow", "--format", "jsonl", "-", "--seconds", "3"}, 60000);
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QJsonObject> objects = jsonLines(run.out);
    const int samples = checkSequence(objects);
    EXPECT_GT(samples, 1000);
    int previousValue = -1;
    qint64 previousTime = before;
    for (const QJsonObject& o : objects) {
        const int value = o.value("value").toInt();
        if (previousValue >= 0) {
            ASSERT_EQ(value, (previousValue + 1) % 100000) << "a device line lost or repeated";
        }
        previousValue = value;
        const QDateTime time = QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs);
        ASSERT_TRUE(time.isValid()) << o.value("time").toString().toStdString();
        ASSERT_GE(time.toMSecsSinceEpoch(), previousTime) << o.value("time").toString().toStdString();
        previousTime = time.toMSecsSinceEpoch();
    }
    EXPECT_LE(previousTime, after);
}

TEST_F(FollowRecordingTest, StatusPacketsCarryBothValuesAndTheStatusBitsByName) {
    start("line=1,id=4114,fw=2.10,weight=12.5,stream=SN,update=20");
    const CliRun run = rig.cli({"record", "--follow", "--format", "jsonl", "-", "--seconds", "2"}, 30000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QJsonObject> objects = jsonLines(run.out);
    EXPECT_GT(checkSequence(objects), 20);
    const QStringList dosingNames = {"Idle",       "Zeroing",  "Tareing",       "PreFill",
                                     "CoraseFill", "FineFill", "InFlightDelay", "ReadFillingWeight"};
    for (const QJsonObject& o : objects) {
        ASSERT_TRUE(o.contains("gross") && o.contains("net")) << QJsonDocument(o).toJson().toStdString();
        EXPECT_EQ(o.value("decimals").toInt(), 1);
        EXPECT_LE(o.value("net").toDouble(), 12.5 + 1e-9);
        const QJsonObject status = o.value("status").toObject();
        const int state = status.value("state").toInt(-1);
        ASSERT_GE(state, 0);
        ASSERT_LE(state, 7);
        EXPECT_EQ(status.value("stateName").toString(), dosingNames[state]);
        EXPECT_TRUE(status.value("noMotion").isBool());
        EXPECT_EQ(status.value("overRange").toBool(true), false);
        EXPECT_EQ(status.value("underRange").toBool(true), false);
    }
}

TEST_F(FollowRecordingTest, OverRangeAndASilentDeviceAreEventsAndTheDeviceIsFollowedAgain) {
    start("line=1,id=4110,fw=1.00,weight=12.5,stream=SN,update=20");
    QProcess follow;
    startFollow(follow, {"--format", "jsonl", "-", "--seconds", "60"});
    QByteArray out;
    ASSERT_TRUE(waitForOutput(follow, out, "\"seq\":10,", 20000)) << out.toStdString();
    // Over range for longer than a silence lasts: a gap of its own, not a lost device.
    ASSERT_EQ(sim.control("fault 1 overrange"), "ok");
    ASSERT_TRUE(waitForOutput(follow, out, "\"event\":\"over range\"", 20000)) << out.toStdString();
    EXPECT_FALSE(waitForOutput(follow, out, "\"event\":\"link lost\"", 4500)) << out.toStdString();
    ASSERT_EQ(sim.control("fault 1 none"), "ok");
    ASSERT_TRUE(waitForOutput(follow, out, "\"event\":\"in range\"", 20000)) << out.toStdString();
    // A carriage return lost on a noisy line runs two lines together: their samples are lost, and said so.
    ASSERT_EQ(sim.control("fault 1 noisy"), "ok");
    ASSERT_TRUE(waitForOutput(follow, out, "\"event\":\"unreadable\",\"reason\":\"+0012.5N+0012.5\"", 20000))
        << out.toStdString();
    ASSERT_EQ(sim.control("fault 1 silent"), "ok");
    ASSERT_TRUE(waitForOutput(follow, out, "\"event\":\"link lost\"", 20000)) << out.toStdString();
    ASSERT_EQ(sim.control("fault 1 none"), "ok");
    ASSERT_TRUE(waitForOutput(follow, out, "\"event\":\"link restored\"", 60000)) << out.toStdString();
    const qsizetype restored = out.indexOf("\"event\":\"link restored\"");
    // Samples after the return.
    QDeadlineTimer deadline(20000);
    while (out.indexOf("\"seq\":", restored) < 0 && !deadline.hasExpired()) {
        follow.waitForReadyRead(100);
        out += follow.readAllStandardOutput();
    }
    follow.terminate();
    ASSERT_TRUE(follow.waitForFinished(15000));
    out += follow.readAllStandardOutput();
    EXPECT_EQ(follow.exitCode(), 0);

    const QList<QJsonObject> objects = jsonLines(out);
    const int samples = checkSequence(objects);
    QStringList events;
    int lostAfter = -1, lastSeq = 0;
    for (const QJsonObject& o : objects) {
        if (o.contains("event")) {
            events.append(o.value("event").toString());
            // The event says which sample was the last before it.
            EXPECT_EQ(o.value("lastSeq").toInt(), lastSeq);
            if (lostAfter < 0 && events.last() == "link lost")
                lostAfter = lastSeq;
        } else {
            lastSeq = o.value("seq").toInt();
        }
    }
    EXPECT_EQ(events, (QStringList{"over range", "in range", "unreadable", "link lost", "link restored"}));
    EXPECT_GE(lostAfter, 10);
    EXPECT_GT(samples, lostAfter); // the recording went on after the device came back
    EXPECT_EQ(reportedSamples(follow.readAllStandardError()), samples);
}

TEST_F(FollowRecordingTest, ATermSignalEndsWithEveryLineCompleteAndAFailedWriteIsAFailure) {
    start("line=1,id=4110,fw=1.00,weight=12.5,stream=SN,update=20");
    const QString csv = rig.filePath("endless.csv");
    QProcess follow;
    startFollow(follow, {csv});
    QDeadlineTimer deadline(20000);
    QFile file(csv);
    while (!deadline.hasExpired() && (!file.exists() || file.size() < 400))
        QThread::msleep(50);
    follow.terminate();
    ASSERT_TRUE(follow.waitForFinished(15000));
    EXPECT_EQ(follow.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(follow.exitCode(), 0);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.endsWith('\n'));
    const int rows = static_cast<int>(text.count('\n')) - 2;
    EXPECT_GT(rows, 10);
    EXPECT_EQ(reportedSamples(follow.readAllStandardError()), rows);

    // A reader that goes away: the recording ends with a failure, never with "done".
    const QString err = rig.filePath("closed.err");
    QProcess shell;
    shell.setProcessEnvironment(rig.environment());
    shell.start("bash",
                {"-c", QStringLiteral("'%1' record --follow - --seconds 60 2>'%2' | head -n 5 >/dev/null; "
                                      "echo ${PIPESTATUS[0]}")
                           .arg(programPath("tarvo-cli"), err)});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.readAllStandardOutput().trimmed(), "1");
    QFile errFile(err);
    ASSERT_TRUE(errFile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(errFile.readAll().contains("tarvo-cli record: writing to standard output failed"));

    // A folder, or a disk's device node, is no place for it: refused with the reason, nothing written.
    // The node is the test's own, of a device number no driver has.
    const QString disk = rig.filePath("disk");
    const bool haveNode = ::mknod(QFile::encodeName(disk).constData(), S_IFBLK | 0600, makedev(240, 0)) == 0;
    QDir().mkpath(rig.filePath("folder"));
    for (const auto& [target, reason] : {std::pair{rig.filePath("folder"), QByteArray("(Is a directory)")},
                                         std::pair{disk, QByteArray("(a block device, not a file)")}}) {
        if (target == disk && !haveNode)
            continue;
        CliRun run = rig.cli({"record", "--follow", target, "--seconds", "1"}, 30000);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains(target.toLocal8Bit() + ": Can not write file! " + reason))
            << run.err.toStdString();
    }

    // A pipe that no program reads is refused at once instead of holding the port until one comes, and a
    // search that finds no device leaves an earlier recording as it was and makes no new file.
    const QString pipe = rig.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    CliRun run = rig.cli({"record", "--follow", pipe, "--seconds", "1"}, 30000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(pipe.toLocal8Bit() + ": Can not write file! (a pipe that no program reads)"))
        << run.err.toStdString();
    ASSERT_EQ(sim.control("fault 1 silent"), "ok");
    const QString fresh = rig.filePath("fresh.csv");
    for (const QString& target : {csv, fresh}) {
        run = rig.cli({"record", "--follow", target, "--seconds", "1"}, 60000);
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    }
    QFile kept(csv);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), text);
    EXPECT_FALSE(QFile::exists(fresh));
}

TEST_F(FollowRecordingTest, TheJsonlStreamReachesAnMqttBrokersSubscriberWholeAndInOrder) {
    const QString broker = QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin", "/sbin"});
    const QString pub = QStandardPaths::findExecutable("mosquitto_pub");
    const QString sub = QStandardPaths::findExecutable("mosquitto_sub");
    if (broker.isEmpty() || pub.isEmpty() || sub.isEmpty())
        GTEST_SKIP() << "mosquitto and mosquitto-clients are not installed (scripts/setup.sh installs them)";
    start("line=1,id=4110,fw=1.00,weight=12.5,stream=SN,update=20");

    // A free localhost port, then a broker on it that needs no configuration of the system's.
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    QProcess mosquitto;
    mosquitto.start(broker, {"-p", QString::number(port)});
    ASSERT_TRUE(mosquitto.waitForStarted(5000));
    bool listening = false;
    for (QDeadlineTimer deadline(10000); !listening && !deadline.hasExpired();) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        listening = socket.waitForConnected(200);
        if (!listening)
            QThread::msleep(50);
    }
    ASSERT_TRUE(listening) << mosquitto.readAllStandardError().toStdString();

    // The subscription is in place once a probe published meanwhile has come through.
    const QString topic = "plant/line1/scale1";
    QProcess subscriber;
    subscriber.start(sub, {"-h", "127.0.0.1", "-p", QString::number(port), "-q", "1", "-t", topic});
    QByteArray received;
    ASSERT_TRUE(subscriber.waitForStarted(5000));
    for (QDeadlineTimer deadline(10000); !received.contains("probe") && !deadline.hasExpired();) {
        QProcess::execute(pub, {"-h", "127.0.0.1", "-p", QString::number(port), "-t", topic, "-m", "probe"});
        subscriber.waitForReadyRead(300);
        received += subscriber.readAllStandardOutput();
    }
    ASSERT_TRUE(received.contains("probe")) << received.toStdString();

    // The README's pipeline; tee keeps what tarvo-cli wrote, to compare with what arrived.
    const QString sent = rig.filePath("sent.jsonl");
    const QString pipeline =
        QStringLiteral("set -o pipefail; '%1' record --follow --format jsonl - --seconds 3 | tee '%2' | '%3' "
                       "-l -q 1 -h 127.0.0.1 -p %4 -t %5")
            .arg(programPath("tarvo-cli"), sent, pub, QString::number(port), topic);
    QProcess shell;
    shell.setProcessEnvironment(rig.environment());
    shell.start("bash", {"-c", pipeline});
    ASSERT_TRUE(shell.waitForFinished(60000));
    ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    QFile sentFile(sent);
    ASSERT_TRUE(sentFile.open(QIODevice::ReadOnly));
    const QByteArray written = sentFile.readAll();
    const int samples = checkSequence(jsonLines(written));
    ASSERT_GT(samples, 20);

    // Every line that was published, once and in order: the subscriber's message lines are the file's.
    auto messages = [&] {
        QByteArray lines;
        for (const QByteArray& line : received.split('\n'))
            if (line.startsWith('{'))
                lines += line + '\n';
        return lines;
    };
    for (QDeadlineTimer deadline(20000); messages().count('\n') < samples && !deadline.hasExpired();) {
        subscriber.waitForReadyRead(100);
        received += subscriber.readAllStandardOutput();
    }
    // A moment for anything sent twice to show.
    subscriber.waitForReadyRead(300);
    received += subscriber.readAllStandardOutput();
    subscriber.terminate();
    subscriber.waitForFinished(5000);
    mosquitto.terminate();
    mosquitto.waitForFinished(5000);
    EXPECT_EQ(messages(), written);
    EXPECT_EQ(checkSequence(jsonLines(messages())), samples);
}

TEST_F(FollowRecordingTest, RotationCutsBetweenSamplesNeverLosingOrRepeatingOne) {
    start("line=1,id=4110,fw=1.00,weight=12.5,stream=SN,update=2");
    QDir dir(rig.filePath("rotated"));
    ASSERT_TRUE(dir.mkpath("."));
    CliRun run = rig.cli({"record", "--follow", "--format", "jsonl", dir.filePath("scale.jsonl"), "--rotate",
                          "1k", "--seconds", "4"},
                         60000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    // The names sort in recording order; read one after another they are one unbroken recording.
    const QStringList names = dir.entryList({"scale-*.jsonl"}, QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 101) << "fewer than 100 cuts";
    static const QRegularExpression name("^scale-\\d{8}T\\d{6}\\.\\d{3}Z-\\d{6}\\.jsonl$");
    QByteArray all;
    for (const QString& n : names) {
        EXPECT_TRUE(name.match(n).hasMatch()) << n.toStdString();
        QFile part(dir.filePath(n));
        ASSERT_TRUE(part.open(QIODevice::ReadOnly));
        const QByteArray text = part.readAll();
        if (n != names.last()) {
            EXPECT_FALSE(text.isEmpty()) << n.toStdString();
        }
        EXPECT_TRUE(text.isEmpty() || text.endsWith('\n')) << n.toStdString();
        all += text;
    }
    const int samples = checkSequence(jsonLines(all));
    EXPECT_EQ(samples, all.count('\n'));
    EXPECT_EQ(reportedSamples(run.err), samples);

    // Every csv part is a data file of its own, with the two header lines.
    QDir csvDir(rig.filePath("rotated-csv"));
    ASSERT_TRUE(csvDir.mkpath("."));
    run = rig.cli({"record", "--follow", csvDir.filePath("scale.csv"), "--rotate", "1k", "--seconds", "1"},
                  60000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList parts = csvDir.entryList({"scale-*.csv"}, QDir::Files, QDir::Name);
    ASSERT_GE(parts.size(), 2);
    int rows = 0;
    for (const QString& n : parts) {
        QFile part(csvDir.filePath(n));
        ASSERT_TRUE(part.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = part.readAll().split('\n');
        ASSERT_GE(lines.size(), 3) << n.toStdString();
        EXPECT_EQ(lines[1], "GraphData,Milliseconds") << n.toStdString();
        rows += static_cast<int>(lines.size()) - 3;
    }
    EXPECT_EQ(reportedSamples(run.err), rows);

    const CliRun toStdout = rig.cli({"record", "--follow", "-", "--rotate", "1k"});
    EXPECT_EQ(toStdout.exitCode, 2);
    EXPECT_EQ(toStdout.err, "tarvo-cli record: --rotate needs a FILE, not standard output\n");
    // Without --follow the option would be silently ignored: the command line is refused instead.
    const CliRun withoutFollow =
        rig.cli({"record", "--seconds", "1", "--csv", rig.filePath("plain.csv"), "--rotate", "1k"});
    EXPECT_EQ(withoutFollow.exitCode, 2);
    EXPECT_EQ(withoutFollow.err, "tarvo-cli record: --rotate goes with --follow\n");
}

TEST_F(FollowRecordingTest, AnAdapterUnpluggedAndPluggedInTenTimesLeavesAnEventForEveryGap) {
    // The port is a link that each simulator run points at its own terminal: quitting one pulls the
    // adapter out, starting the next plugs it in again.
    const QString com1 = rig.filePath("com1");
    auto plugIn = [&](int cycle) {
        // Each plug-in counts its lines from its own thousand: a lost or repeated line shows in the values.
        auto device = std::make_unique<SimulatorProcess>();
        const QString counter = QString::number((cycle + 1) * 1000);
        EXPECT_TRUE(device->start({"--device",
                                   "line=1,id=4110,fw=1.00,stream=SN,update=20,decimals=0,counter=" + counter,
                                   "--link", "1=" + com1}));
        return device;
    };
    std::unique_ptr<SimulatorProcess> device = plugIn(0);
    // COM2 is a port where nothing answers: the search for the lost device walks over it, and the
    // recording must still come back to COM1.
    ASSERT_TRUE(sim.start({"--device", "line=1,id=4110"}));
    ASSERT_EQ(sim.control("fault 1 silent"), "ok");
    ASSERT_TRUE(rig.writeSettings(com1));
    {
        QFile ini(rig.settingsPath());
        ASSERT_TRUE(ini.open(QIODevice::ReadWrite));
        QByteArray text = ini.readAll();
        text.replace("\nCOM2=\n", "\nCOM2=" + sim.linePath(1).toLocal8Bit() + "\n");
        ASSERT_TRUE(ini.resize(0));
        ASSERT_TRUE(ini.seek(0));
        ASSERT_GT(ini.write(text), 0);
    }
    QProcess follow;
    startFollow(follow, {"--format", "jsonl", "-", "--seconds", "300"});
    QByteArray out, err;
    constexpr int kCycles = 10;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        // Samples of this plug-in, then the adapter out.
        ASSERT_TRUE(waitForOutput(follow, out, plugInValue(cycle), 30000)) << out.right(2000).toStdString();
        device.reset();
        const QByteArray lost = "\"event\":\"link lost\"";
        ASSERT_TRUE(waitForOutput(follow, out, lost, 30000, cycle + 1)) << out.right(2000).toStdString();
        if (cycle + 1 < kCycles) {
            // Plugged in again only after a search has missed it.
            for (QDeadlineTimer deadline(30000);
                 err.count("Device: not found!") < cycle + 1 && !deadline.hasExpired();) {
                follow.waitForReadyRead(100);
                err += follow.readAllStandardError();
            }
            ASSERT_GE(err.count("Device: not found!"), cycle + 1) << err.toStdString();
            device = plugIn(cycle + 1);
            ASSERT_TRUE(waitForOutput(follow, out, plugInValue(cycle + 1), 60000))
                << out.right(2000).toStdString();
        }
    }
    follow.terminate();
    ASSERT_TRUE(follow.waitForFinished(30000));
    out += follow.readAllStandardOutput();
    EXPECT_EQ(follow.exitCode(), 0);

    // Between two events only the samples of one plug-in, each numbered once in order, and every line the
    // device sent from the first one recorded to the last: its counter never skips or repeats.
    const QList<QJsonObject> objects = jsonLines(out);
    const int samples = checkSequence(objects);
    EXPECT_EQ(reportedSamples(err + follow.readAllStandardError()), samples);
    QStringList events;
    int cycle = 0, inCycle = 0, previous = -1;
    for (const QJsonObject& o : objects) {
        if (o.contains("event")) {
            events.append(o.value("event").toString());
            if (events.last() == "link lost") {
                EXPECT_GT(inCycle, 0) << "plug-in " << cycle << " left no sample";
                ++cycle;
                inCycle = 0;
            }
            continue;
        }
        const int value = o.value("value").toInt();
        EXPECT_GE(value, (cycle + 1) * 1000) << "seq " << o.value("seq").toInt();
        EXPECT_LT(value, (cycle + 2) * 1000) << "seq " << o.value("seq").toInt();
        if (inCycle > 0) {
            EXPECT_EQ(value, previous + 1) << "seq " << o.value("seq").toInt();
        }
        previous = value;
        ++inCycle;
    }
    QStringList expected;
    for (int i = 0; i < kCycles; ++i)
        expected << "link lost"
                 << "link restored";
    expected.removeLast();
    EXPECT_EQ(events, expected);
}

TEST_F(FollowRecordingTest, AddressedDevicesArePolledInTurnAndEachSampleCarriesItsSource) {
    ASSERT_TRUE(sim.start({"--device", "line=1,id=4110,fw=1.00,addr=1,weight=1.5", "--device",
                           "line=1,id=4113,fw=1.00,addr=2,weight=2.5", "--device",
                           "line=1,id=4110,fw=1.00,addr=3,weight=3.5"}));
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    // Address 4 has no device: an event, once, while the others go on.
    const CliRun run = rig.cli(
        {"record", "--follow", "--format", "jsonl", "-", "--address", "1-4", "--seconds", "3"}, 30000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QJsonObject> objects = jsonLines(run.out);
    const int samples = checkSequence(objects);
    EXPECT_EQ(reportedSamples(run.err), samples);
    QMap<QString, int> perAddress;
    QStringList events;
    for (const QJsonObject& o : objects) {
        const QJsonObject device = o.value("device").toObject();
        const QString address = device.value("address").toString();
        if (o.contains("event")) {
            events.append(o.value("event").toString() + " " + address);
            continue;
        }
        ++perAddress[address];
        EXPECT_EQ(o.value("value").toDouble(), address.toInt() + 0.5) << address.toStdString();
        EXPECT_EQ(device.value("identity").toInt(), address == "02" ? 4113 : 4110) << address.toStdString();
        EXPECT_EQ(device.value("port").toString(), "COM1");
    }
    EXPECT_EQ(perAddress.keys(), (QStringList{"01", "02", "03"}));
    for (auto it = perAddress.begin(); it != perAddress.end(); ++it)
        EXPECT_GE(it.value(), 5) << it.key().toStdString();
    // Polled in turn: no device gets ahead of another by more than a round.
    EXPECT_LE(std::abs(perAddress["01"] - perAddress["03"]), 1);
    EXPECT_EQ(events, QStringList{"no answer 04"});

    const CliRun bad = rig.cli({"record", "--follow", "-", "--address", "5-64"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.err, "tarvo-cli record: --address needs N or N-M, addresses 0..63\n");
}

TEST_F(FollowRecordingTest, SeveralPortsAreFollowedAtOnceEachSampleWithItsPort) {
    ASSERT_TRUE(
        sim.start({"--lines", "2", "--device", "line=1,id=4110,fw=1.00,weight=1.5,stream=SN,update=20",
                   "--device", "line=2,id=4111,fw=1.00,weight=2.5,stream=SN,update=20"},
                  2));
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    {
        QFile ini(rig.settingsPath());
        ASSERT_TRUE(ini.open(QIODevice::ReadWrite));
        QByteArray text = ini.readAll();
        text.replace("\nCOM2=\n", "\nCOM2=" + sim.linePath(2).toLocal8Bit() + "\n");
        ASSERT_TRUE(ini.resize(0));
        ASSERT_TRUE(ini.seek(0));
        ASSERT_GT(ini.write(text), 0);
    }
    const CliRun run = rig.cli(
        {"record", "--follow", "--format", "jsonl", "-", "--port", "1", "--port", "2", "--seconds", "3"},
        60000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QJsonObject> objects = jsonLines(run.out);
    const int samples = checkSequence(objects);
    EXPECT_EQ(reportedSamples(run.err), samples);
    QMap<QString, int> perPort;
    for (const QJsonObject& o : objects) {
        const QJsonObject device = o.value("device").toObject();
        const QString port = device.value("port").toString();
        ++perPort[port];
        EXPECT_EQ(o.value("value").toDouble(), port == "COM1" ? 1.5 : 2.5) << port.toStdString();
        EXPECT_EQ(device.value("identity").toInt(), port == "COM1" ? 4110 : 4111) << port.toStdString();
    }
    EXPECT_EQ(perPort.keys(), (QStringList{"COM1", "COM2"}));
    EXPECT_GT(perPort.value("COM1"), 20);
    EXPECT_GT(perPort.value("COM2"), 20);
}

TEST_F(FollowRecordingTest, EventsWriteEachFinishedDosingCycleWithItsDosedValue) {
    start("line=1,id=4114,fw=2.10,weight=12.5,stream=SN,update=20");
    const CliRun run =
        rig.cli({"record", "--follow", "--format", "jsonl", "-", "--events", "--seconds", "10"}, 60000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QJsonObject> objects = jsonLines(run.out);
    const int samples = checkSequence(objects);
    EXPECT_EQ(reportedSamples(run.err), samples);
    int results = 0, lastSeq = 0, afterResults = 0;
    bool filled = false; // the cycle before the result reached ReadFillingWeight and went back to Idle
    int previousState = 0;
    for (const QJsonObject& o : objects) {
        if (o.value("event").toString() == "cycle") {
            EXPECT_EQ(o.value("result").toString(), "dosed");
            EXPECT_GT(o.value("value").toDouble(), 0);
            EXPECT_LE(o.value("value").toDouble(), 12.5 + 1e-9);
            EXPECT_EQ(o.value("decimals").toInt(), 1);
            EXPECT_EQ(o.value("lastSeq").toInt(), lastSeq);
            EXPECT_TRUE(filled) << "a result without a finished cycle before it, after seq " << lastSeq;
            filled = false;
            ++results;
            continue;
        }
        ASSERT_FALSE(o.contains("event")) << QJsonDocument(o).toJson().toStdString();
        lastSeq = o.value("seq").toInt();
        afterResults += results > 0;
        const int state = o.value("status").toObject().value("state").toInt();
        if (state == 0 && previousState == 7)
            filled = true;
        previousState = state;
    }
    EXPECT_GE(results, 1);
    EXPECT_GT(afterResults, 20); // the status packets came again after the read
}

// A slow answer leaves the status packets coming while the dosed value is awaited: they are recorded, and
// none is taken for the answer. At 443.x kg net over a 100 kg tare a packet ends in the bytes 0x44
// 0x30..0x39 and its end: "D", one digit and "\r", which reads as a number when framed from the "D". The
// filling passes 443.x in most cycles while the answer is awaited.
TEST_F(FollowRecordingTest, EventsTakeOnlyTheDevicesAnswerNotBytesOfAPacketThatFrameANumber) {
    start("line=1,id=4114,fw=2.10,weight=441.8,tare=100,decimals=1,stream=SN,update=20");
    QProcess follow;
    startFollow(follow, {"--format", "jsonl", "-", "--events", "--seconds", "60"});
    QByteArray out;
    ASSERT_TRUE(waitForOutput(follow, out, "\"seq\":5,", 20000)) << out.toStdString();
    // From now on each answer comes 350 ms late; the stream does not wait.
    ASSERT_EQ(sim.control("fault 1 late 350"), "ok");
    const bool results = waitForOutput(follow, out, "\"event\":\"cycle\"", 40000, 5);
    follow.terminate();
    ASSERT_TRUE(follow.waitForFinished(15000));
    out += follow.readAllStandardOutput();
    ASSERT_TRUE(results) << out.toStdString();
    QDateTime previous;
    for (const QJsonObject& o : jsonLines(out)) {
        if (o.value("event").toString() == "cycle") {
            EXPECT_EQ(o.value("result").toString(), "dosed");
            // Each item's filling ends within a few per cent of the set weight; the device reads it gross.
            EXPECT_NEAR(o.value("value").toDouble(), 541.8, 15) << QJsonDocument(o).toJson().toStdString();
            continue;
        }
        // The packets that came while the answer was awaited are recorded too: no gap of the wait's length.
        const QDateTime time = QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs);
        ASSERT_TRUE(time.isValid()) << QJsonDocument(o).toJson().toStdString();
        if (previous.isValid()) {
            EXPECT_LT(previous.msecsTo(time), 300) << "after seq " << o.value("seq").toInt() - 1;
        }
        previous = time;
    }
}

TEST_F(FollowRecordingTest, EventsWriteEachWeighedItemsAverageOfACheckWeigher) {
    start("line=1,id=4113,fw=2.10,weight=12.5,stream=SN,update=20");
    const CliRun run =
        rig.cli({"record", "--follow", "--format", "jsonl", "-", "--events", "--seconds", "8"}, 60000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QJsonObject> objects = jsonLines(run.out);
    const int samples = checkSequence(objects);
    EXPECT_EQ(reportedSamples(run.err), samples);
    int results = 0, lastSeq = 0;
    bool weighed =
        false; // an item was measured (state 3 or 4) and the cycle went back to 0 since the last result
    int previousState = 0;
    for (const QJsonObject& o : objects) {
        if (o.value("event").toString() == "cycle") {
            EXPECT_EQ(o.value("result").toString(), "average");
            // Items weigh 12.5 within a few per cent.
            EXPECT_NEAR(o.value("value").toDouble(), 12.5, 0.5) << QJsonDocument(o).toJson().toStdString();
            EXPECT_EQ(o.value("decimals").toInt(), 1);
            EXPECT_EQ(o.value("lastSeq").toInt(), lastSeq);
            EXPECT_TRUE(weighed) << "an average without a weighed item before it, after seq " << lastSeq;
            weighed = false;
            ++results;
            continue;
        }
        ASSERT_FALSE(o.contains("event")) << QJsonDocument(o).toJson().toStdString();
        lastSeq = o.value("seq").toInt();
        const int state = o.value("status").toObject().value("state").toInt();
        if (state == 0 && (previousState == 3 || previousState == 4))
            weighed = true;
        previousState = state;
    }
    EXPECT_GE(results, 2);
}
