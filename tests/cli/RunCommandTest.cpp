// tarvo-cli run against the real simulator on a pseudo-terminal: a multi-command line goes through the
// same sender as on the Commands page, its log lines are printed as they come, and the exit status says
// whether every command was answered and taken.
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include <QDeadlineTimer>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

QList<QByteArray> lines(const QByteArray& out) {
    QList<QByteArray> list = out.split('\n');
    if (!list.isEmpty() && list.last().isEmpty())
        list.removeLast();
    return list;
}

} // namespace

TEST(RunCommand, LinesGoThroughTheSenderToAnAddressRangeAndInALoop) {
    SimulatorProcess sim;
    ASSERT_TRUE(sim.start(
        {"--device", "line=1,addr=2,id=4110,baud=115200", "--device", "line=1,addr=3,id=4114,baud=115200"}));
    ProgramRig rig;
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));

    CliRun run = rig.cli({"run", "ID", "--from", "2", "--to", "03"}, 20000);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(lines(run.out), (QList<QByteArray>{"OP2", "ID", "D:4110", "OP3", "ID", "D:4114"}));

    // The digits of an answer carried into the next command: the device opens with its own code.
    run = rig.cli({"run", "OP2+CE+CE<+"}, 20000);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QByteArray> opened = lines(run.out);
    ASSERT_EQ(opened.size(), 6) << run.out.toStdString();
    EXPECT_TRUE(opened[3].startsWith("E+"));
    EXPECT_EQ(opened[4], "CE" + opened[3].mid(2));
    EXPECT_EQ(opened[5], "OK");

    run = rig.cli({"run", "OP3+IV+", "--loop", "50", "--count", "3"}, 20000);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(lines(run.out).count("IV"), 3);
    EXPECT_EQ(lines(run.out).size(), 12);

    // An unanswered or refused command makes the status 1; the line still runs to its end.
    run = rig.cli({"run", "OP9+XQ+ID+"}, 20000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(lines(run.out),
              (QList<QByteArray>{"OP9", "TimeOutErr", "XQ", "TimeOutErr", "ID", "TimeOutErr"}));

    for (const QStringList& args :
         {QStringList{}, QStringList{"ID", "--from", "1"}, QStringList{"ID", "--from", "3", "--to", "2"},
          QStringList{"ID", "--from", "64", "--to", "65"}, QStringList{"ID", "--count", "2"},
          QStringList{"ID", "--loop", "10", "--count", "0"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        run = rig.cli(QStringList{"run"} + args, 20000);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(run.err.startsWith("tarvo-cli run: ")) << run.err.toStdString();
    }
}

// A run that could not send or show everything is no success: an adapter pulled out mid-line or between
// the lines of a loop ends it at once with status 1, and so do answers that never reached the output.
TEST(RunCommand, APulledAdapterOrAnOutputThatCannotBeWrittenEndsTheRunAsAFailure) {
    ProgramRig rig;
    for (const QStringList& args : {QStringList{"ID+//////////ID+"}, QStringList{"ID", "--loop", "2000"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        SimulatorProcess sim;
        ASSERT_TRUE(sim.start({"--device", "id=4110,baud=115200"}));
        ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
        QProcess run;
        run.setProcessEnvironment(rig.environment());
        run.start(programPath("tarvo-cli"), QStringList{"run"} + args);
        QByteArray out;
        for (QDeadlineTimer deadline(20000); !out.contains("D:4110") && !deadline.hasExpired();) {
            run.waitForReadyRead(100);
            out += run.readAllStandardOutput();
        }
        ASSERT_TRUE(out.contains("D:4110")) << out.toStdString();
        // Within the line's five-second pause, or the loop's two seconds between lines.
        sim.stop();
        const bool ended = run.waitForFinished(4000);
        if (!ended)
            run.kill();
        ASSERT_TRUE(ended) << "the run went on after the adapter was pulled out";
        out += run.readAllStandardOutput();
        EXPECT_EQ(run.exitCode(), 1);
        EXPECT_EQ(lines(out), (QList<QByteArray>{"ID", "D:4110"}));
        EXPECT_TRUE(run.readAllStandardError().contains("COM1 not available")) << out.toStdString();
    }

    SimulatorProcess sim;
    ASSERT_TRUE(sim.start({"--device", "id=4110,baud=115200"}));
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    for (const QStringList& args : {QStringList{"run", "ID+IV+"}, QStringList{"send", "ID"},
                                    QStringList{"run", "--help"}, QStringList{"--version"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        QProcess full;
        full.setProcessEnvironment(rig.environment());
        // Only opened as the output, never named to the program, which could replace a path it is given.
        full.setStandardOutputFile("/dev/full");
        full.start(programPath("tarvo-cli"), args);
        ASSERT_TRUE(full.waitForFinished(20000));
        EXPECT_EQ(full.exitCode(), 1);
        EXPECT_TRUE(full.readAllStandardError().contains("standard output could not be written"));
    }
}

// A device slower than the time limit answers each command during the next one: no answer is taken for
// the command after it ("IV" logged with "ID"'s identity).
TEST(RunCommand, ALateAnswerIsNeverTakenForTheNextCommand) {
    SimulatorProcess sim;
    ASSERT_TRUE(sim.start({"--device", "id=4114,fw=2.10,baud=115200"}));
    ProgramRig rig;
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    ASSERT_EQ(sim.control("fault 1 late 600"), "ok");
    const CliRun run = rig.cli({"run", "ID+IV+GG+"}, 20000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(lines(run.out),
              (QList<QByteArray>{"ID", "TimeOutErr", "IV", "TimeOutErr", "GG", "TimeOutErr"}));
}
