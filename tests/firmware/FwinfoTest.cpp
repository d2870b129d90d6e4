// tarvo-cli fwinfo, run as a production script would run it.
#include "FirmwareFiles.h"
#include "support/TestPaths.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

CliRun fwinfo(const QStringList& args) {
    CliRun run;
    const QString program = programPath("tarvo-cli");
    if (!QFileInfo::exists(program)) {
        ADD_FAILURE() << "tarvo-cli not built: " << program.toStdString();
        return run;
    }
    QProcess process;
    process.start(program, QStringList{"fwinfo"} + args);
    if (!process.waitForFinished(30000)) {
        ADD_FAILURE() << "tarvo-cli fwinfo did not finish";
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

class FwinfoTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString write(const QString& name, const QByteArray& bytes) {
        const QString p = dir.filePath(name);
        EXPECT_TRUE(writeFile(p, bytes));
        return p;
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(FwinfoTest, ReportsAnOwnFormatFileLineByLine) {
    OwnFile own;
    own.payload = "S1060010CAFE0021\nS9030000FC\n";
    own.format = 2;
    own.targets = {0x0001A2B3, 0x10};
    own.message = "Line 1\r\nTab\there \xE9";
    own.version = 0xFFFFFFFE;
    own.edition = 65535;
    const QString file = write("fw.qmf", own.build());

    const CliRun plain = fwinfo({file});
    EXPECT_EQ(plain.exitCode, 0);
    const QString expected = "kind: 3\n"
                             "MemStart: 0010\n"
                             "MemEnd: 0013\n"
                             "CodeSize: 28\n"
                             "SW_Version: 4294967294\n"
                             "SW_Edition: 65535\n"
                             "MsgBuf: Line 1\\r\\nTab\\x09here \\xE9\n"
                             "parse: ok\n"
                             "target: 0001A2B3\n"
                             "target: 00000010\n";
    EXPECT_EQ(plain.out, expected);

    const CliRun dumped = fwinfo({"--dump", file});
    EXPECT_EQ(dumped.exitCode, 0);
    EXPECT_EQ(dumped.out, expected + "image: CAFE00\n");
}

TEST_F(FwinfoTest, ReportsParseErrorsAndMessagesWithExitStatusOne) {
    const QString bad = write("bad.hex", ":0100000011EE\n:0100010022DD\n");
    const CliRun run = fwinfo({bad, "--dump"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "kind: 1\n"
                       "MemStart: 0000\n"
                       "MemEnd: 0002\n"
                       "CodeSize: 28\n"
                       "SW_Version: 16843009\n"
                       "SW_Edition: 1\n"
                       "MsgBuf: \n"
                       "parse: checksum error at line 2, byte 14\n"
                       "message: " +
                           bad +
                           ": checksum error at line 2, byte 14 | Firmware File Error\n"
                           "image: 1122\n");

    const QString text = write("notes.txt", "just some notes\n");
    const CliRun unknown = fwinfo({"--dump", text});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.out.endsWith("parse: file format not recognised\n"
                                     "message: The source file format was not recognized! | Unknown Format\n"
                                     "message: " +
                                     text +
                                     " | Unknown File type\n"
                                     "image: \n"))
        << unknown.out.toStdString();
}

// A file that cannot be read is a failure with its real reason and no header; only a wrong call is a
// usage error.
TEST_F(FwinfoTest, UnreadableFilesFailWithTheirReasonAndBadCallsExitWithTwo) {
    const CliRun missing = fwinfo({dir.filePath("none.qmf")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "tarvo-cli fwinfo: " + dir.filePath("none.qmf") + ": No such file or directory\n");
    const CliRun folder = fwinfo({dir.path()});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_EQ(folder.out, "");
    EXPECT_EQ(folder.err, "tarvo-cli fwinfo: " + dir.path() + ": Is a directory\n");

    EXPECT_EQ(fwinfo({}).exitCode, 2);
    EXPECT_EQ(fwinfo({"a.hex", "b.hex"}).exitCode, 2);
    EXPECT_EQ(fwinfo({"--verbose", "a.hex"}).exitCode, 2);
}
