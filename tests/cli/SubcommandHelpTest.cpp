// tarvo-cli SUBCOMMAND --help: what a production engineer reads before writing a script.
#include "cli/Subcommands.h"
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"
#include "support/TestPaths.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace tarvo::test;

TEST(SubcommandHelp, EverySubcommandPrintsItsHelpOnStandardOutputAndExitsZero) {
    struct Case {
        QStringList args; // the help option comes first or after other words
        QByteArray usage;
        QList<QByteArray> mentions;
    };
    const Case cases[] = {
        {{"send"}, "usage: tarvo-cli send CMD ", {"--start <S>", "--timeout <MS>", "--address <NN>", "CMD"}},
        {{"send", "ID"}, "usage: tarvo-cli send CMD ", {"--com <N>", "--baud <R>"}},
        {{"find"}, "usage: tarvo-cli find ", {"Tarvo.ini", "-h, --help"}},
        {{"fwinfo"}, "usage: tarvo-cli fwinfo [--dump] FILE\n", {"--dump", "FILE"}},
        {{"record"},
         "usage: tarvo-cli record --seconds N --csv FILE",
         {"--seconds <N>", "--csv <FILE>", "--trigger"}},
        {{"run"}, "usage: tarvo-cli run \"LINE\" [--from N --to M]", {"--loop <MS>", "--count <K>", "LINE"}},
        {{"setup"}, "usage: tarvo-cli setup export|import|diff --group", {"--group <G>", "ACTION", "FILE"}},
        {{"flash"}, "usage: tarvo-cli flash FIRMWARE ", {"--kernel <FILE>", "--fixture", "5 programmed but"}},
        {{"image"}, "usage: tarvo-cli image get FILE | image put FILE", {"--from <N>", "--to <M>"}},
    };
    ProgramRig rig; // a configuration folder of its own, without a settings file
    for (const Case& c : cases) {
        for (const char* help : {"--help", "-h"}) {
            SCOPED_TRACE((c.args.join(' ') + ' ' + help).toStdString());
            const CliRun run = rig.cli(c.args + QStringList{help}, 20000);
            EXPECT_EQ(run.exitCode, 0);
            EXPECT_TRUE(run.out.startsWith(c.usage)) << run.out.toStdString();
            for (const QByteArray& text : c.mentions)
                EXPECT_TRUE(run.out.contains(text)) << text.toStdString();
            EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
        }
    }
    // The program's own help names every subcommand and how to ask about one.
    const CliRun run = rig.cli({"--help"}, 20000);
    EXPECT_EQ(run.exitCode, 0);
    for (const char* name : {"send", "find", "fwinfo", "record", "run", "setup", "flash", "image"})
        EXPECT_TRUE(run.out.contains(QByteArray("  tarvo-cli ") + name + ' ')) << name;
    EXPECT_TRUE(run.out.contains("\"tarvo-cli SUBCOMMAND --help\""));

    // The simulator's help names every weight profile a device can be given.
    QProcess simulator;
    simulator.start(programPath("tarvo-devsim"), {"--help"});
    ASSERT_TRUE(simulator.waitForFinished(20000));
    EXPECT_EQ(simulator.exitCode(), 0);
    const QByteArray simulatorHelp = simulator.readAllStandardOutput();
    for (const char* profile : {"constant", "noise", "step", "filling", "checkweigher"})
        EXPECT_TRUE(simulatorHelp.contains(profile)) << profile;
    EXPECT_TRUE(simulatorHelp.contains("profile=")) << simulatorHelp.toStdString();
}

// Durations on the command line take a decimal comma as many locales write it, as well as a point.
TEST(SubcommandArguments, SecondsTakeADecimalPointOrADecimalComma) {
    using tarvo::cli::parseSeconds;
    EXPECT_EQ(parseSeconds("0.5", 10), 500);
    EXPECT_EQ(parseSeconds("0,5", 10), 500);
    EXPECT_EQ(parseSeconds("2", 10), 2000);
    EXPECT_FALSE(parseSeconds("1,2,3", 10));
    EXPECT_FALSE(parseSeconds("1.2,3", 10));
    EXPECT_FALSE(parseSeconds("11", 10));
}
