// Every subcommand that talks to a device, against a simulator that streams net values at its fastest
// rate from power-on, as a real transmitter with autotransmit on does. The answer printed must be the
// device's answer to the command, and the device must hear exactly what the subcommand says it sends.
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

class StreamingDeviceCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start({"--device", "line=1,id=4114,fw=2.10,weight=12.5,stream=SN,update=1"}));
        ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
        heard(); // what the start-up exchanged is not the subcommands'
    }
    // The command lines the device heard since the last call, given up to two seconds to reach
    // `atLeast` of them: a command whose answer is of the streamed kind ("GN" while net values stream)
    // takes the next such line, which may come before the device has read the command, and the program
    // can end before the device's log shows it.
    QStringList heard(int atLeast = 0) {
        QStringList lines;
        QElapsedTimer clock;
        clock.start();
        do {
            const QString answer = sim.control("heard 1 0");
            EXPECT_TRUE(answer.startsWith("ok")) << answer.toStdString();
            if (answer.size() > 3)
                lines += answer.mid(3).split('|');
            if (lines.size() >= atLeast)
                break;
            QThread::msleep(10);
        } while (clock.elapsed() < 2000);
        return lines;
    }
    static QList<QByteArray> lines(const QByteArray& out) {
        QList<QByteArray> list = out.split('\n');
        if (!list.isEmpty() && list.last().isEmpty())
            list.removeLast();
        return list;
    }

    SimulatorProcess sim;
    ProgramRig rig;
};

} // namespace

TEST_F(StreamingDeviceCliTest, SendPrintsTheAnswerToItsCommandEveryTime) {
    struct Case {
        QStringList args;
        QString sent;
        QByteArray printed;
    };
    const QList<Case> cases = {
        {{"IV"}, "IV", "V:2.10\n"},
        {{"ID"}, "ID", "D:4114\n"},
        {{"TL 150"}, "TL 150", "OK\n"},
        {{"TL"}, "TL", "T+00150\n"},
        {{"IV", "--start", "V:"}, "IV", "2.10\n"},
        {{"GN"}, "GN", "N+0012.5\n"},
    };
    for (int rep = 0; rep < 20; ++rep) {
        const Case& c = cases[rep % cases.size()];
        SCOPED_TRACE(QString("rep %1: %2").arg(rep).arg(c.args.join(' ')).toStdString());
        const CliRun run = rig.cli(QStringList{"send"} + c.args, 20000);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(run.out, c.printed);
        EXPECT_EQ(heard(1), QStringList{c.sent});
    }
}

TEST_F(StreamingDeviceCliTest, RunCarriesTheDevicesOwnCodeIntoTheNextCommand) {
    for (int rep = 0; rep < 20; ++rep) {
        SCOPED_TRACE(QString("rep %1").arg(rep).toStdString());
        const CliRun run = rig.cli({"run", "CE+CE<+"}, 20000);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QList<QByteArray> printed = lines(run.out);
        ASSERT_EQ(printed.size(), 4) << run.out.toStdString();
        EXPECT_EQ(printed[0], "CE");
        ASSERT_TRUE(printed[1].startsWith("E+")) << printed[1].toStdString();
        EXPECT_EQ(printed[2], "CE" + printed[1].mid(2));
        EXPECT_EQ(printed[3], "OK");
        EXPECT_EQ(heard(), (QStringList{"CE", QString::fromLatin1(printed[2])}));
    }
}

TEST_F(StreamingDeviceCliTest, FindSetupAndRecordSeeTheDeviceNotItsStream) {
    for (int rep = 0; rep < 3; ++rep) {
        const CliRun run = rig.cli({"find"}, 30000);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(run.out, "identity: 4114\nfirmware: 2.10\nport: COM1\nbaud: 115200\n");
        EXPECT_EQ(heard(), (QStringList{"ID", "ID", "IV", "SN"}));
    }

    const QString file = rig.filePath("line.mxr");
    ASSERT_EQ(rig.cli({"send", "PD7 120"}).out, "OK\n");
    CliRun run = rig.cli({"setup", "export", "--group", "dosing", file});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QFile exported(file);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    const QByteArray text = exported.readAll();
    EXPECT_TRUE(text.contains("\nPD7=120\n")) << text.toStdString();
    ASSERT_EQ(rig.cli({"send", "PD7 130"}).out, "OK\n");
    heard();
    run = rig.cli({"setup", "import", "--group", "dosing", file});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "saved: yes\n");
    const QStringList written = heard();
    EXPECT_TRUE(written.contains("PD7 120")) << written.join('|').toStdString();
    EXPECT_EQ(written.last(), "SD");
    EXPECT_EQ(rig.cli({"send", "PD7", "--start", "P7:"}).out, "+00120\n");

    // A recording of the 4114's status packets: net in display units, never the stream's counts.
    const QString csv = rig.filePath("run.csv");
    run = rig.cli({"record", "--seconds", "2", "--csv", csv}, 60000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QFile recorded(csv);
    ASSERT_TRUE(recorded.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = recorded.readAll().split('\n');
    int checked = 0;
    double previousTime = 0;
    for (qsizetype i = 2; i < rows.size(); ++i) {
        const QList<QByteArray> fields = rows[i].trimmed().split(',');
        if (fields.size() != 2)
            continue;
        const double value = fields[0].toDouble(), time = fields[1].toDouble();
        EXPECT_LE(value, 12.5 + 1e-3) << rows[i].toStdString();
        EXPECT_GE(time, previousTime) << rows[i].toStdString();
        previousTime = time;
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

TEST_F(StreamingDeviceCliTest, ARefusedSetupValueIsToldOnceAndARunLoopOfZeroIsAUsageError) {
    const QString file = rig.filePath("refused.mxr");
    ASSERT_EQ(rig.cli({"setup", "export", "--group", "dosing", file}).exitCode, 0);
    ASSERT_EQ(rig.cli({"send", "PD7 130"}).out, "OK\n");
    ASSERT_EQ(sim.control("refuse 1 0 PD"), "ok");
    const CliRun run = rig.cli({"setup", "import", "--group", "dosing", file});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.count("Invalid value for PD1... values not saved!"), 1) << run.err.toStdString();

    const CliRun loop = rig.cli({"run", "ID", "--loop", "0"});
    EXPECT_EQ(loop.exitCode, 2);
    EXPECT_TRUE(loop.err.startsWith("tarvo-cli run: --loop")) << loop.err.toStdString();
}

TEST_F(StreamingDeviceCliTest, UnderACommaDecimalLocaleTheRecordingReadsBackToItsNumbers) {
    QProcess locales;
    locales.start("locale", {"-a"});
    locales.waitForFinished(5000);
    if (!locales.readAllStandardOutput().toLower().contains("de_de.utf8"))
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (scripts/setup.sh installs it)";
    const QMap<QString, QString> german{{"LC_ALL", "de_DE.UTF-8"}};
    const QString csv = rig.filePath("de.csv");
    // "Comma" is the separator chosen: it is the decimal separator here.
    const CliRun run = rig.cli({"record", "--seconds", "2", "--csv", csv}, 60000, german);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.count("File separator \",\" is the decimal separator here: \";\" used instead"), 1)
        << run.err.toStdString();

    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    ASSERT_GT(rows.size(), 22);
    EXPECT_EQ(rows[1].trimmed(), "GraphData;Milliseconds");
    const QLocale locale("de_DE");
    int read = 0, decimals = 0;
    double previousTime = 0;
    for (qsizetype i = 2; i < rows.size(); ++i) {
        const QByteArray row = rows[i].trimmed();
        if (row.isEmpty())
            continue;
        const QList<QByteArray> fields = row.split(';');
        ASSERT_EQ(fields.size(), 2) << row.toStdString();
        bool valueOk = false, timeOk = false;
        const double value = locale.toDouble(QString::fromLatin1(fields[0]), &valueOk);
        const double time = locale.toDouble(QString::fromLatin1(fields[1]), &timeOk);
        ASSERT_TRUE(valueOk && timeOk) << row.toStdString();
        EXPECT_LE(value, 14.0);
        EXPECT_GE(time, previousTime);
        previousTime = time;
        decimals += fields[0].contains(',');
        ++read;
    }
    EXPECT_EQ(read, rows.size() - 3);
    EXPECT_GT(decimals, 0); // the locale's decimal separator is kept
}

// "AG" and "CG" answer "G+10000" and "AD" answers "A +00000": lines of the shape of the gross and average
// streams. They are the answers when no such stream runs, whatever else streams; while the gross stream
// runs, none of its lines is taken for a gain, and the command is said to have gone unanswered.
TEST(StreamedAnswerShapes, AnAnswerThatReadsAsAStreamLineIsTakenOnlyWhenThatStreamDoesNotRun) {
    struct Case {
        const char* device;
        QList<QByteArray> printed;
        int exitCode;
    };
    const Case cases[] = {
        {"line=1,id=4114,fw=2.10", {"AG", "G+10000", "CG", "G+10000", "AD", "A +00000"}, 0},
        {"line=1,id=4114,fw=2.10,weight=12.5,stream=SN,update=20",
         {"AG", "G+10000", "CG", "G+10000", "AD", "A +00000"},
         0},
        {"line=1,id=4114,fw=2.10,weight=12.5,decimals=0,stream=SG,update=20",
         {"AG", "TimeOutErr", "CG", "TimeOutErr", "AD", "A +00000"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        SimulatorProcess sim;
        ASSERT_TRUE(sim.start({"--device", c.device}));
        ProgramRig rig;
        ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
        for (int rep = 0; rep < 3; ++rep) {
            const CliRun run = rig.cli({"run", "AG+CG+AD+"}, 20000);
            EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
            QList<QByteArray> printed = run.out.split('\n');
            printed.removeAll(QByteArray());
            EXPECT_EQ(printed, c.printed);
        }
    }
}
