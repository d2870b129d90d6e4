#include "measure/DataFiles.h"
#include "MeasureRig.h"
#include "measure/PrintScaling.h"
#include "support/SmallDisk.h"
#include "support/UnheldPipe.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

using namespace tarvo;
using tarvo::test::MeasureRig;
using tarvo::test::statusPacket;

namespace {

QStringList linesOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {"<missing>"};
    QString text = QString::fromLocal8Bit(f.readAll());
    if (text.endsWith('\n'))
        text.chop(1);
    return text.split('\n');
}

void fill(GraphSlot& slot, std::initializer_list<std::array<float, 3>> rows) { // gross, net, time
    int i = 0;
    for (const auto& r : rows) {
        ++i;
        slot.records[i].gross = r[0];
        slot.records[i].net = r[1];
        slot.records[i].time = r[2];
    }
    slot.count = i;
    slot.recorded = true;
}

struct Files {
    QTemporaryDir dir;
    RecordingMemory memory;
    tarvo::test::FakeOperator op;
    DataFiles files{op, memory};
    QString path(const QString& name) const { return dir.filePath(name); }
};

} // namespace

TEST(DataFilesTest, SeparatorChoiceShapesEveryLine) {
    Files f;
    fill(f.memory.slot(1), {{0, 1234, 500.7f}, {0, -12, 1000}});
    EXPECT_EQ(f.files.separator(), ",");
    EXPECT_TRUE(f.files.separatorLocked());
    f.files.separatorEdited("x"); // locked: nothing changes
    EXPECT_EQ(f.files.separator(), ",");

    f.files.setSeparatorChoice(DataFiles::Separator::Semicolon);
    ASSERT_TRUE(f.files.writeGraphData(f.path("semi.csv"), 1, false));
    EXPECT_EQ(linesOf(f.path("semi.csv")), (QStringList{">Change this text in Graph Options<",
                                                        "GraphData;Milliseconds", "1234;500", "-12;1000"}));

    f.files.setSeparatorChoice(DataFiles::Separator::Other);
    EXPECT_FALSE(f.files.separatorLocked());
    f.files.separatorEdited("");
    f.files.setGraphName("Line 3");
    ASSERT_TRUE(f.files.writeGraphData(f.path("none.csv"), 1, false));
    EXPECT_EQ(linesOf(f.path("none.csv")),
              (QStringList{"Line 3", "GraphDataMilliseconds", "1234500", "-121000"}));

    f.files.separatorEdited(" | ");
    ASSERT_TRUE(f.files.writeGraphData(f.path("multi.csv"), 1, false));
    EXPECT_EQ(linesOf(f.path("multi.csv")).at(2), "1234 | 500");

    // Loading the settings picks the choice from the text.
    f.files.restoreSeparator(";");
    EXPECT_EQ(f.files.separatorChoice(), DataFiles::Separator::Semicolon);
    f.files.restoreSeparator(",");
    EXPECT_EQ(f.files.separatorChoice(), DataFiles::Separator::Comma);
    f.files.restoreSeparator("\t");
    EXPECT_EQ(f.files.separatorChoice(), DataFiles::Separator::Other);
    EXPECT_EQ(f.files.separator(), "\t");
}

TEST(DataFilesTest, ValuesAreWrittenInTheGeneralFormatWithFifteenDigits) {
    auto text = [](double v, char point = '.') {
        char buffer[40];
        return std::string(buffer, DataFiles::formatValue(buffer, v, point));
    };
    EXPECT_EQ(text(0.1f), "0.100000001490116");
    EXPECT_EQ(text(0.1f, ','), "0,100000001490116");
    EXPECT_EQ(text(1234), "1234");
    EXPECT_EQ(text(-5), "-5");
    EXPECT_EQ(text(0), "0");
    EXPECT_EQ(text(2.5f), "2.5");
    EXPECT_EQ(text(-0.25), "-0.25");
    EXPECT_EQ(text(1e20), "1e+20");
    EXPECT_EQ(text(123456789012345.0), "123456789012345");
    EXPECT_EQ(text(1234567890123456.0), "1.23456789012346e+15");
    EXPECT_EQ(text(0.00001), "1e-05");
    // Whole numbers have a formatter of their own: every length of digits, at its edges, either sign.
    for (long long power = 1; power <= 100000000000000LL; power *= 10) // below 10^15
        for (long long whole : {power - 1, power, power + 1, 2 * power + 37, 10 * power - 1})
            for (long long v : {whole, -whole}) {
                char expected[24];
                char* end = std::to_chars(expected, expected + sizeof expected, v).ptr;
                ASSERT_EQ(text(static_cast<double>(v)), std::string(expected, end - expected)) << v;
            }
}

TEST(DataFilesTest, ARunOfThreeSamplesGivesFiveLinesAndTheSelectedField) {
    MeasureRig rig;
    DataFiles files(rig.op, rig.memory);
    QTemporaryDir dir;
    rig.acq->runClicked();
    rig.muteDevice();
    rig.feed("N", "+123.4");
    rig.feed("N", "-0.5");
    rig.feed("N", "+1.0");
    rig.acq->stopClicked();
    const QString path = dir.filePath("run.csv");
    rig.op.fileNames.push_back(path);
    files.saveCsvClicked(1, rig.readout.grossSelected());
    EXPECT_TRUE(rig.op.events.contains("save: .csv"));
    const QStringList lines = linesOf(path);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines.mid(0, 3),
              (QStringList{">Change this text in Graph Options<", "GraphData,Milliseconds", "1234,0"}));
    EXPECT_TRUE(lines[3].startsWith("-5,"));
    EXPECT_TRUE(lines[4].startsWith("10,"));
    EXPECT_TRUE(rig.op.messageBoxes().isEmpty());

    // Saved while "SG" is selected, the same recording (made with "SN") gives its gross field.
    rig.readout.restoreAutotransmit("SG");
    rig.op.fileNames.push_back(path);
    files.saveCsvClicked(1, rig.readout.grossSelected());
    const QStringList gross = linesOf(path);
    ASSERT_EQ(gross.size(), 5);
    EXPECT_EQ(gross[2], "0,0");
    EXPECT_TRUE(gross[3].startsWith("0,"));

    // Cancelling the dialog writes nothing.
    QFile::remove(path);
    files.saveCsvClicked(1, true);
    EXPECT_FALSE(QFile::exists(path));
}

TEST(DataFilesTest, UnrecordedSlotsAndUnwritableFilesAreRefusedWithTheirTexts) {
    Files f;
    // The graph data file keeps its two lines.
    f.op.fileNames.push_back(f.path("empty.csv"));
    EXPECT_FALSE(f.files.saveGraphData(3, true));
    EXPECT_EQ(f.op.messageBoxes(), QStringList{"Can't save a graph that is not recorded!"});
    EXPECT_EQ(linesOf(f.path("empty.csv")),
              (QStringList{">Change this text in Graph Options<", "GraphData,Milliseconds"}));

    // The dosing data file asks nothing at all.
    f.op.clear();
    f.files.setLogDosingData(true);
    f.files.saveCsvClicked(3, true);
    EXPECT_EQ(f.op.messageBoxes(), QStringList{"Can't save a graph that has never been drawed!"});
    EXPECT_TRUE(f.op.events.filter("save:").isEmpty());

    f.op.clear();
    fill(f.memory.slot(1), {{1, 2, 3}});
    // The message says where and why (it once said only " Can not write file!").
    f.op.fileNames.push_back(f.path("no/such/folder/x.csv"));
    EXPECT_FALSE(f.files.saveGraphData(1, true));
    EXPECT_EQ(f.op.messageBoxes(), QStringList{" Can not write file!\n" + f.path("no/such/folder/x.csv") +
                                               ": No such file or directory"});
    f.op.clear();
    f.op.fileNames.push_back(f.dir.path());
    EXPECT_FALSE(f.files.saveDosingData(1));
    EXPECT_EQ(f.op.messageBoxes(), QStringList{" Can not write file!\n" + f.dir.path() + ": Is a directory"});

    // A device node or a pipe named as the file stays what it is: a save never replaces it.
    // Nodes of its own, never the machine's: a regression would replace those for every program.
    const QString node = f.path("full");
    const bool haveNode = ::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0;
    const QString fifo = f.path("pipe.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    QStringList targets{fifo};
    if (haveNode)
        targets << node;
    for (const QString& target : targets) {
        f.op.clear();
        f.op.fileNames.push_back(target);
        EXPECT_FALSE(f.files.saveGraphData(1, true));
        const QString kind = target == fifo ? "a pipe" : "a character device";
        EXPECT_EQ(f.op.messageBoxes(),
                  QStringList{" Can not write file!\n" + target + ": Is " + kind + ", not a regular file"});
        struct stat after {};
        ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, target == fifo ? S_IFIFO : S_IFCHR) << target.toStdString();
    }
}

TEST(DataFilesTest, DosingFileUsesTheSlotsOwnCountAndNetField) {
    MeasureRig rig(4114);
    DataFiles files(rig.op, rig.memory);
    files.setLogDosingData(true);
    QTemporaryDir dir;
    rig.acq->options().setUseStatusInformation(true);
    rig.acq->options().sampleTimeEdited("100000");
    rig.acq->setSelectedSlot(2);
    rig.acq->triggerClicked(true);
    rig.muteDevice();
    unsigned char n = 1;
    for (unsigned char s : {0x00, 0x03, 0x04, 0x05, 0x07, 0x00})
        rig.feed("P", statusPacket(s, 0x00, 0x01, 0x00, 0x00, n++, 0x00));
    // STOP clears the running sample index; the slot keeps its own count.
    rig.acq->stopClicked();
    ASSERT_EQ(rig.acq->sampleIndex(), 0);
    const GraphSlot& slot = rig.memory.slot(2);
    ASSERT_EQ(slot.count, 4);
    const QString path = dir.filePath("dose.csv");
    rig.op.fileNames.push_back(path);
    files.saveCsvClicked(2, false);
    const QStringList lines = linesOf(path);
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[1], "DoseData,Milliseconds");
    // Slot 2: the net field of its records and i x the mean step, truncated.
    const double step = slot.meanStep;
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(lines[i + 1], DataFiles::valueText(slot.records[i].net) + "," +
                                    QString::number(static_cast<long long>(i * step)));
    EXPECT_NE(slot.records[1].net, 0.0f);

    // Slot 1: net and time, both as values.
    fill(rig.memory.slot(1), {{5, 0.1f, 12.5f}});
    rig.op.fileNames.push_back(path);
    files.saveCsvClicked(1, false);
    EXPECT_EQ(linesOf(path).at(2),
              DataFiles::valueText(0.1f) + ",12" + DataFiles::localeDecimalPoint() + "5");
}

TEST(DataFilesTest, AFullRecordingIsWrittenLineForLineInEveryLayout) {
    // Every sample of a full slot, in order, as each reads on its own: a long file is made in parts.
    Files f;
    GraphSlot& one = f.memory.slot(1);
    GraphSlot& two = f.memory.slot(2);
    for (int i = 1; i <= kMaxSamples; ++i) {
        one.records[i].gross = static_cast<float>(i % 7 == 0 ? -i : i);
        one.records[i].net = static_cast<float>(i) / 8.0f - 3.0f;
        one.records[i].time = static_cast<float>(i) * 2.137f;
        two.records[i].net = static_cast<float>(i % 1000) * 0.5f;
        two.values[i] = static_cast<float>(i % 977) - 400.25f;
    }
    one.count = kMaxSamples;
    two.count = kMaxSamples - 3; // an odd count: the parts meet on no round number
    one.recorded = two.recorded = true;
    two.meanStep = 1.25;
    const QString path = f.path("full.csv");
    auto check = [&](const QString& kind, const GraphSlot& slot, auto expected) {
        const QStringList lines = linesOf(path);
        ASSERT_EQ(lines.size(), slot.count + 2) << kind.toStdString();
        EXPECT_EQ(lines[1], kind + ",Milliseconds");
        for (int i = 1; i <= slot.count; ++i)
            ASSERT_EQ(lines[i + 1], expected(i)) << kind.toStdString() << " line " << i + 1;
    };
    ASSERT_TRUE(f.files.writeGraphData(path, 1, true));
    check("GraphData", one, [&](int i) {
        return DataFiles::valueText(one.records[i].gross) + "," +
               QString::number(static_cast<long long>(one.records[i].time));
    });
    f.files.setLogDosingData(true);
    ASSERT_TRUE(f.files.writeDosingData(path, 1));
    check("DoseData", one, [&](int i) {
        return DataFiles::valueText(one.records[i].net) + "," + DataFiles::valueText(one.records[i].time);
    });
    ASSERT_TRUE(f.files.writeDosingData(path, 2));
    check("DoseData", two, [&](int i) {
        return DataFiles::valueText(two.values[i]) + "," + QString::number(static_cast<long long>(i * 1.25));
    });
}

TEST(DataFilesTest, AFailedSaveLeavesTheOldFileAndACompletedOneReplacesIt) {
    Files f;
    const QString path = f.path("kept.csv");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents\n");
    }
    GraphSlot& slot = f.memory.slot(1);
    slot.recorded = true;
    slot.count = 100000;
    for (int i = 1; i <= slot.count; ++i)
        slot.records[i].gross = static_cast<float>(i);

    // Files may not grow past 64 KiB: the write fails half-way.
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = f.files.writeGraphData(path, 1, true);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    // The system's own reason, with the program's words and the path.
    EXPECT_EQ(f.op.messageBoxes(), QStringList{" Can not write file!\n" + path + ": File too large"});
    EXPECT_EQ(linesOf(path), QStringList{"old contents"});
    // No temporary file is left behind.
    EXPECT_EQ(QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"kept.csv"});

    // A completed save replaces the file, even the two-line file of an unrecorded slot.
    EXPECT_FALSE(f.files.writeGraphData(path, 4, true));
    EXPECT_EQ(linesOf(path).size(), 2);
    EXPECT_TRUE(f.files.writeGraphData(path, 1, true));
    EXPECT_EQ(linesOf(path).size(), 100002);
}

TEST(DataFilesTest, ASaveThatRunsOutOfSpaceSaysWhyAndKeepsTheOldFile) {
    test::SmallDisk disk(64);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    Files f;
    GraphSlot& slot = f.memory.slot(1);
    slot.recorded = true;
    // Long enough to be made in parts: the disk fills in the first, the second is made all the same.
    slot.count = 150000;
    for (int i = 1; i <= slot.count; ++i)
        slot.records[i].gross = static_cast<float>(i);
    const QString path = disk.path("run.csv");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents\n");
    }
    disk.fill(8192);
    // Through the tool button's path: the save dialog's name, then the message box.
    f.op.fileNames.push_back(path);
    EXPECT_FALSE(f.files.saveGraphData(1, true));
    EXPECT_EQ(f.op.messageBoxes(),
              QStringList{" Can not write file!\n" + path + ": No space left on device"});
    EXPECT_EQ(linesOf(path), QStringList{"old contents"});
    EXPECT_EQ(disk.entries(), QStringList{"run.csv"});
}

TEST(DataFilesTest, AnAverageLogThatFillsTheDiskSaysWhyOnceAndCloses) {
    test::SmallDisk disk(64);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    Files f;
    f.files.setSeparatorChoice(DataFiles::Separator::Semicolon);
    f.files.setLogAverageData(0, true);
    f.files.setLogAverageData(1, true);
    const QString path = disk.path("avg.csv");
    f.op.fileNames = {path};
    f.files.openTriggerLogs();
    ASSERT_TRUE(f.files.averageLogOpen());
    disk.fill(0); // what is left is the rest of the log's first block
    int lines = 0;
    while (f.files.averageLogOpen() && lines < 2000) {
        f.files.appendAverageLine("1234.5");
        ++lines;
    }
    EXPECT_FALSE(f.files.averageLogOpen());
    EXPECT_EQ(f.op.messageBoxes(), QStringList{"No space left on device"});
    EXPECT_FALSE(f.files.logAverageData(0));
    EXPECT_FALSE(f.files.logAverageData(1));
    // The lines that fitted are there, after the header.
    const QStringList written = linesOf(path);
    ASSERT_GT(written.size(), 10);
    EXPECT_EQ(written[0], "AverageData;TimeStamp");
    EXPECT_TRUE(written[1].startsWith("1234.5;"));
    // Further values go nowhere and say nothing more.
    f.files.appendAverageLine("1234.5");
    EXPECT_EQ(f.op.messageBoxes().size(), 1);
}

// The averaging's own log is written in place, line by line: a pipe, a folder or a device named as the
// file is refused with its reason, and nothing waits on a pipe or writes into a device.
TEST(DataFilesTest, TheAveragingLogIsNeverAPipeAFolderOrADevice) {
    Files f;
    const test::UnheldPipe pipe(f.path("pipe.csv"));
    const QString node = f.path("full"); // a device of its own where root may make one; never the machine's
    const bool haveNode = ::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0;
    struct Case {
        QString path;
        QString reason;
    };
    std::vector<Case> cases{{pipe.path(), "Is a pipe, not a regular file"}, {f.dir.path(), "Is a directory"}};
    if (haveNode)
        cases.push_back({node, "Is a character device, not a regular file"});
    for (const Case& c : cases) {
        QString reason;
        EXPECT_FALSE(pipe.run([&] {
            return f.files.openAverageLogAt(c.path, "AverageData,TimeStamp", &reason);
        })) << c.path.toStdString();
        EXPECT_EQ(reason, c.reason);
        EXPECT_FALSE(f.files.averageLogOpen());
    }
    QString reason;
    EXPECT_TRUE(f.files.openAverageLogAt(f.path("avg.csv"), "AverageData,TimeStamp", &reason));
    EXPECT_TRUE(f.files.averageLogOpen());
    EXPECT_EQ(linesOf(f.path("avg.csv")), QStringList{"AverageData,TimeStamp"});
}

TEST(DataFilesTest, TriggerLogsOpenWithTheirHeadersAndFailuresClearTheirOptions) {
    Files f;
    f.files.setSeparatorChoice(DataFiles::Separator::Semicolon);
    // Nothing set: no question.
    f.files.openTriggerLogs();
    EXPECT_TRUE(f.op.events.isEmpty());

    f.files.setLogGetDosed(true);
    f.files.setLogAverageData(1, true);
    f.op.fileNames = {f.path("dosed.csv"), f.path("avg1.csv")};
    f.files.openTriggerLogs();
    EXPECT_TRUE(f.files.getDosedLogOpen());
    EXPECT_TRUE(f.files.averageLogOpen());
    EXPECT_EQ(linesOf(f.path("dosed.csv")), QStringList{"GetDosed;TimeStamp;PD2;PD16"});
    f.files.appendAverageLine("1234");
    QStringList avg = linesOf(f.path("avg1.csv"));
    ASSERT_EQ(avg.size(), 2);
    EXPECT_EQ(avg[0], "AverageData;TimeStamp");
    EXPECT_TRUE(avg[1].startsWith("1234;"));
    EXPECT_GT(avg[1].size(), 6);

    // The next TRIGGER asks only for the average log; the open one is closed first.
    f.op.clear();
    f.op.fileNames = {f.path("avg2.csv")};
    f.files.openTriggerLogs();
    EXPECT_EQ(f.op.events.filter("save:").size(), 1);
    EXPECT_EQ(f.files.averageLogPath(), f.path("avg2.csv"));
    f.files.appendAverageLine("99");
    EXPECT_EQ(linesOf(f.path("avg1.csv")).size(), 2);
    EXPECT_EQ(linesOf(f.path("avg2.csv")).size(), 2);

    // Clearing "Log GetDosed" closes its log; leaving the page closes the average log.
    f.files.setLogGetDosed(false);
    EXPECT_FALSE(f.files.getDosedLogOpen());
    f.files.closeAverageLog();
    EXPECT_FALSE(f.files.averageLogOpen());

    // A file that cannot be created: both texts, the options that asked are cleared, the log stays closed.
    f.op.clear();
    f.files.setLogAverageData(0, true);
    f.op.fileNames = {f.path("missing/avg.csv")};
    f.files.openTriggerLogs();
    EXPECT_EQ(f.op.messageBoxes(), (QStringList{"File can be in use by another program",
                                                " Can not write file!\n" + f.path("missing/avg.csv") +
                                                    ": No such file or directory"}));
    // A pipe is no log: its open would wait for a reader for ever. (Should it wait, a reader that comes
    // after a while releases it, so the test fails instead of hanging.)
    const QString fifo = f.path("pipe.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    std::atomic<bool> opened{false};
    std::thread release([&] {
        for (int i = 0; i < 300 && !opened; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!opened) {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (fd >= 0)
                ::close(fd);
        }
    });
    f.op.clear();
    f.files.setLogAverageData(0, true);
    f.op.fileNames = {fifo};
    f.files.openTriggerLogs();
    opened = true;
    release.join();
    EXPECT_EQ(f.op.messageBoxes(),
              (QStringList{"File can be in use by another program",
                           " Can not write file!\n" + fifo + ": Is a pipe, not a regular file"}));
    EXPECT_FALSE(f.files.averageLogOpen());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_FALSE(f.files.logAverageData(0));
    EXPECT_FALSE(f.files.logAverageData(1));
    EXPECT_FALSE(f.files.averageLogOpen());
    // Cancelling leaves the log closed and the option set.
    f.files.setLogGetDosed(true);
    f.files.openTriggerLogs();
    EXPECT_FALSE(f.files.getDosedLogOpen());
    EXPECT_TRUE(f.files.logGetDosed());
}

TEST(PrintScalingTest, PicturesAreFittedToThePageKeepingTheirProportions) {
    // Smaller than a landscape page: enlarged to the page width.
    PrintSize s = printScaling(800, 400, 3300, 2400);
    EXPECT_EQ(s.width, 3300);
    EXPECT_EQ(s.height, 1650);
    // Wider in proportion than the page: the width rule, then the height still fits.
    s = printScaling(800, 600, 3300, 2400);
    EXPECT_EQ(s.width, 3200);
    EXPECT_EQ(s.height, 2400);
    // A tall picture is enlarged to the page height.
    s = printScaling(300, 600, 3300, 2400);
    EXPECT_EQ(s.width, 1200);
    EXPECT_EQ(s.height, 2400);
    // Larger than the page: shrunk.
    s = printScaling(6600, 1200, 3300, 2400);
    EXPECT_EQ(s.width, 3300);
    EXPECT_EQ(s.height, 600);
    EXPECT_EQ(printScaling(0, 0, 100, 100).width, 0);
}
