// "Tarvocommand.ini" as the command panel reads it: the sections the scan visits, each key with its
// default, numbers, booleans and colours as the profile functions read them.
#include "console/CommandFile.h"
#include "support/UnheldPipe.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvo;

TEST(CommandFile, KeysReadWithTheirDefaultsAndNumbersAsTheProfileFunctionsReadThem) {
    CommandFile file;
    ASSERT_TRUE(
        file.loadBytes("[cmd1]\nCMD=ID\n"
                       "[CMD2]\nCMD=TL\nanswer=T\nTimeout=$1F4\nRead=2\nWrite=1\nColor=$000000FF\n"
                       "Description=Trigger level\nText=Trig\nGroup=Check\nMax=0x1869F\nMin=-100\n"
                       "Unit=counts\nAction=Later\n"
                       "[CMD3]\nCMD=GG\nTimeout=-5\nRead=abc\nMax=2147483648\nMin=12a\nColor=clred\n"
                       "[CMD4]\nCMD=GN\nTimeout=99999999\nColor=clHighlight\nDescription=Gewicht \xe4\n"
                       "[CMD5]\nCMD=Error\n"
                       "[CMD6]\nCMD=\nColor=16777216\nText=\xc3\xa4\n"));
    const CommandButton plain = file.button(1);
    EXPECT_EQ(plain.command, "ID");
    EXPECT_EQ(plain.answer, "N/A");
    EXPECT_EQ(plain.timeoutMs, 100);
    EXPECT_TRUE(plain.read);
    EXPECT_FALSE(file.readWhileScanning(1));
    EXPECT_FALSE(plain.write);
    EXPECT_EQ(plain.colour, std::nullopt);
    EXPECT_EQ(plain.description, "N/A");
    EXPECT_EQ(plain.text, "N/A");
    EXPECT_EQ(plain.group, "Standard");
    EXPECT_EQ(plain.action, "Direct");
    EXPECT_EQ(plain.unit, "");
    EXPECT_EQ(plain.max, 0);
    EXPECT_EQ(plain.min, 0);

    const CommandButton full = file.button(2);
    EXPECT_EQ(full.answer, "T");
    EXPECT_EQ(full.timeoutMs, 500);
    EXPECT_TRUE(file.readWhileScanning(2));
    EXPECT_TRUE(full.write);
    EXPECT_EQ(full.colour, Rgb(0xFF0000)); // the file's numbers are blue-green-red
    EXPECT_EQ(full.max, 99999);
    EXPECT_EQ(full.min, -100);
    EXPECT_EQ(full.group, "Check");
    EXPECT_EQ(full.action, "Later");

    // What does not read as a number gives the default; time limits stay within 1 ms..60 s.
    const CommandButton odd = file.button(3);
    EXPECT_EQ(odd.timeoutMs, 1);
    EXPECT_FALSE(file.readWhileScanning(3));
    EXPECT_TRUE(odd.read);
    EXPECT_EQ(odd.max, 0);
    EXPECT_EQ(odd.min, 0);
    EXPECT_EQ(odd.colour, Rgb(0xFF0000));
    EXPECT_EQ(file.button(4).timeoutMs, CommandFile::kMaxTimeoutMs);
    EXPECT_EQ(file.button(4).colour, Rgb(0x0078D7));
    EXPECT_EQ(file.button(4).description, QString::fromUtf8("Gewicht \xc3\xa4")); // not UTF-8: Latin-1
    EXPECT_EQ(file.button(6).text, QString::fromUtf8("\xc3\xa4"));
    EXPECT_EQ(file.button(6).colour, std::nullopt); // a system colour: the button face

    // A command "Error" is what a missing one reads as; an empty command is a command.
    EXPECT_FALSE(file.hasCommand(5));
    EXPECT_TRUE(file.hasCommand(6));
    EXPECT_EQ(file.scan().sections, (QList<int>{1, 2, 3, 4, 6}));

    // A section given twice: its keys read as they are first given.
    ASSERT_TRUE(file.loadBytes("[CMD1]\nCMD=IV\nAnswer=V:\nRead=1\nWrite=0\n"
                               "[CMD1]\nCMD=SR\nAnswer=O\nWrite=1\n"));
    EXPECT_EQ(file.button(1).command, "IV");
    EXPECT_EQ(file.button(1).answer, "V:");
    EXPECT_FALSE(file.button(1).write);
}

TEST(CommandFile, TheScanEndsAfterFiftyMissingSectionsAndAtTheLastSlot) {
    CommandFile file;
    ASSERT_TRUE(file.loadBytes("[CMD1]\nCMD=A\n[CMD2]\nCMD=B\n[CMD52]\nCMD=C\n[CMD103]\nCMD=D\n"));
    EXPECT_EQ(file.scan().sections, (QList<int>{1, 2, 52})); // 53..102 missing: CMD103 is never reached
    EXPECT_EQ(file.scan().refusedSection, 0);

    QByteArray dense;
    for (int n = 1960; n <= 2001; ++n)
        dense += "[CMD" + QByteArray::number(n) + "]\nCMD=X\n";
    for (int n = 1; n < 1960; n += 40)
        dense += "[CMD" + QByteArray::number(n) + "]\nCMD=X\n";
    ASSERT_TRUE(file.loadBytes(dense));
    const CommandFile::Scan scan = file.scan();
    EXPECT_EQ(scan.sections.last(), 2000);
    EXPECT_EQ(scan.refusedSection, 2001);

    // Too large, or not there: no sections.
    EXPECT_FALSE(file.loadBytes(QByteArray(CommandFile::kMaxBytes + 1, 'x')));
    EXPECT_TRUE(file.scan().sections.isEmpty());
    QString error;
    EXPECT_FALSE(file.load("/nonexistent/Tarvocommand.ini", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(file.scan().sections.isEmpty());

    // A pipe in its place is not waited on.
    QTemporaryDir dir;
    const test::UnheldPipe pipe(dir.filePath("Tarvocommand.ini"));
    EXPECT_FALSE(pipe.run([&] { return file.load(pipe.path(), &error); }));
    EXPECT_EQ(error, "Is a pipe, not a regular file");
}
