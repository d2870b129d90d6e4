// "*.mxr" setup files: export and import through the groups' writes against the simulated transmitter,
// the check of every entry before anything is written, and the fuzzer's seeds and past findings.
#include "ConfigRig.h"
#include "support/QtPrinters.h"
#include "support/SmallDisk.h"
#include "support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
bool writeText(const QString& path, const QByteArray& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}
// The file's lines without the blank ones between sections.
QList<QByteArray> lines(const QByteArray& text) {
    QList<QByteArray> out;
    for (const QByteArray& l : text.split('\n'))
        if (!l.trimmed().isEmpty())
            out << l;
    return out;
}
QList<qint64> storedDosing(const devsim::Device& device) {
    QList<qint64> values;
    for (int n = 1; n <= 16; ++n)
        values << device.storedParameter("PD" + QByteArray::number(n));
    return values;
}
QByteArray dosingFile(const QByteArray& pd7Line) {
    QByteArray text = "[DosingCommand]\n";
    for (int n = 1; n <= 16; ++n)
        text += n == 7 ? pd7Line
                       : "PD" + QByteArray::number(n) + "=" + QByteArray::number(n == 1 ? 2 : n * 10) + "\n";
    return text;
}

} // namespace

TEST(SetupFiles, ExportThenImportLeavesTheDeviceAsItWas) {
    QTemporaryDir dir;
    // A check-weigher's file, exact in its section and key names.
    const QString cw = dir.filePath("cw.mxr");
    {
        ConfigRig rig(4113);
        rig.device->setParameter("S0", -250);
        rig.checkWeigher->readMxr41Clicked();
        rig.op.fileNames = {cw};
        rig.files->exportClicked(SetupGroup::CheckWeigher);
        EXPECT_EQ(
            lines(readAll(cw)),
            (QList<QByteArray>{"[Device]",         "ID=4113",         "Firmware=2.10",   "[Port]",
                               "Baud=115200",      "ComNumber=1",     "[CheckWeigher]",  "StartDelay=20",
                               "TriggerLevel=150", "MeasureTime=100", "RetrigWindow=50", "RetrigTime=200",
                               "TareWindow=20",    "[Setpoint 0]",    "Setpoint=-250",   "Hysteresis=0",
                               "Action=0",         "[Setpoint 1]",    "Setpoint=0",      "Hysteresis=0",
                               "Action=0",         "[HoldTime]",      "Holdtime=500"}));
    }

    ConfigRig rig(4114);
    for (int n = 1; n <= 16; ++n)
        rig.device->setParameter("PD" + QByteArray::number(n), n == 1 ? 3 : n == 2 ? 25 : n * 100);
    const QList<qint64> before = storedDosing(*rig.device);
    rig.dosing->readClicked(DosingParameters::Group::Dosing);
    const QString path = dir.filePath("line7.mxr");
    rig.op.fileNames = {path};
    rig.files->exportClicked(SetupGroup::Dosing);
    EXPECT_TRUE(rig.op.events.contains("save: .mxr"));
    const QList<QByteArray> text = lines(readAll(path));
    ASSERT_EQ(text.size(), 23);
    EXPECT_EQ(text.first(10),
              (QList<QByteArray>{"[Device]", "ID=4114", "Firmware=2.10", "[Port]", "Baud=115200",
                                 "ComNumber=1", "[DosingCommand]", "PD1=3", "PD2=25", "PD3=300"}));
    EXPECT_EQ(text.last(), "PD16=1600");

    rig.dosing->dosing().clear();
    rig.heard();
    rig.op.fileNames = {path};
    rig.files->importClicked(SetupGroup::Dosing);
    EXPECT_EQ(rig.dosing->dosing().text(2), "300");
    const QList<QByteArray> written = rig.heard();
    EXPECT_EQ(written.first(), "PD1 3\r");
    EXPECT_EQ(written.last(), "SD\r");
    EXPECT_EQ(storedDosing(*rig.device), before);

    // The check-weigher file has no dosing section: it is no dosing file, and nothing is written (it
    // once imported as sixteen zeros).
    rig.op.clear();
    rig.op.fileNames = {cw};
    rig.files->importClicked(SetupGroup::Dosing);
    EXPECT_EQ(
        rig.op.messageBoxes(),
        QStringList{"Setup file " + cw +
                    ": has no [DosingCommand] section: it is not a dosing setup file; nothing was written"});
    EXPECT_TRUE(rig.heard().isEmpty());
    EXPECT_EQ(storedDosing(*rig.device), before);
}

// An empty file (left by a failed save) or any other text is no setup file: it would otherwise set
// every parameter to 0. Nothing reaches the device, and the message names the missing section.
TEST(SetupFiles, AFileWithoutTheGroupsSectionIsRefusedAndNothingIsSent) {
    QTemporaryDir dir;
    ConfigRig rig(4114);
    for (int n = 1; n <= 16; ++n)
        rig.device->setParameter("PD" + QByteArray::number(n), n * 10);
    const QList<qint64> before = storedDosing(*rig.device);
    QByteArray noise;
    for (int i = 0; i < 3000; ++i)
        noise += char((i * 7919 + 13) % 256);
    const QString empty = dir.filePath("empty.mxr");
    const QString random = dir.filePath("random.mxr");
    const QString headerOnly = dir.filePath("header.mxr");
    ASSERT_TRUE(writeText(empty, ""));
    ASSERT_TRUE(writeText(random, noise));
    ASSERT_TRUE(writeText(headerOnly, "[Device]\nID=4114\n[Port]\nBaud=115200\n"));
    for (const QString& path : {empty, random, headerOnly}) {
        rig.op.clear();
        rig.heard();
        EXPECT_FALSE(rig.files->importFile(SetupGroup::Dosing, path));
        EXPECT_EQ(rig.op.messageBoxes(),
                  QStringList{"Setup file " + path +
                              ": has no [DosingCommand] section: it is not a dosing setup file; nothing was "
                              "written"});
        EXPECT_TRUE(rig.heard().isEmpty()) << path.toStdString();
        rig.op.clear();
        EXPECT_FALSE(rig.files->importFile(SetupGroup::CheckWeigher, path));
        EXPECT_EQ(
            rig.op.messageBoxes(),
            QStringList{"Setup file " + path +
                        ": has no [CheckWeigher] section: it is not a check-weigher setup file; nothing "
                        "was written"});
        EXPECT_TRUE(rig.heard().isEmpty()) << path.toStdString();
    }
    EXPECT_EQ(storedDosing(*rig.device), before);
    // The section alone is a setup file: its missing keys read as 0, as before.
    ASSERT_TRUE(writeText(headerOnly, "[DosingCommand]\nPD2=7\n"));
    EXPECT_TRUE(rig.files->importFile(SetupGroup::Dosing, headerOnly));
    EXPECT_EQ(rig.device->storedParameter("PD2"), 7);
    EXPECT_EQ(rig.device->storedParameter("PD3"), 0);
}

// An export never replaces what is not a regular file (a device, a pipe, a folder), and a save that
// runs out of space says so and leaves the old file whole: the one save path of every written file.
TEST(SetupFiles, AnExportNeverReplacesADeviceOrAPipeAndAFullDiskKeepsTheOldFile) {
    QTemporaryDir dir;
    ConfigRig rig(4114);
    rig.dosing->readClicked(DosingParameters::Group::Dosing); // entries the file can hold
    // A full device of its own (root may make one); never one of the machine's, which a regression would
    // replace for every program.
    const QString node = dir.filePath("full");
    const bool haveNode = ::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0;
    const QString fifo = dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    const QString folder = dir.filePath("folder.mxr");
    ASSERT_TRUE(QDir().mkpath(folder));
    struct Case {
        QString path;
        QString reason;
        mode_t kind;
    };
    std::vector<Case> cases{{fifo, "Is a pipe, not a regular file", S_IFIFO},
                            {folder, "Is a directory", S_IFDIR}};
    if (haveNode)
        cases.push_back({node, "Is a character device, not a regular file", S_IFCHR});
    for (const Case& c : cases) {
        rig.op.clear();
        EXPECT_FALSE(rig.files->writeFile(SetupGroup::Dosing, c.path));
        EXPECT_EQ(rig.op.messageBoxes(), QStringList{" Can not write file!\n" + c.path + ": " + c.reason});
        struct stat after {};
        ASSERT_EQ(::stat(QFile::encodeName(c.path).constData(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, c.kind) << c.path.toStdString();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              haveNode ? QStringList({"full", "pipe"}) : QStringList{"pipe"});

    SmallDisk disk(16);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    const QString path = disk.path("line7.mxr");
    ASSERT_TRUE(writeText(path, "[DosingCommand]\nPD1=1\n"));
    disk.fill(0);
    rig.op.clear();
    EXPECT_FALSE(rig.files->writeFile(SetupGroup::Dosing, path));
    EXPECT_EQ(rig.op.messageBoxes(),
              QStringList{" Can not write file!\n" + path + ": No space left on device"});
    EXPECT_EQ(readAll(path), "[DosingCommand]\nPD1=1\n");
    EXPECT_EQ(disk.entries(), QStringList{"line7.mxr"});
}

TEST(SetupFiles, ADamagedEntryWritesNothingAndNamesTheEntry) {
    QTemporaryDir dir;
    ConfigRig rig(4114);
    const QString path = dir.filePath("damaged.mxr");
    for (const QByteArray& pd7 :
         {QByteArray("PD7=12.5\n"), QByteArray("PD7=abc\n"), QByteArray("PD7=99999999999\n")}) {
        ASSERT_TRUE(writeText(path, dosingFile(pd7)));
        rig.op.clear();
        EXPECT_FALSE(rig.files->importFile(SetupGroup::Dosing, path));
        EXPECT_EQ(rig.heard(), QList<QByteArray>{}) << pd7.toStdString();
        ASSERT_EQ(rig.op.messageBoxes().size(), 1);
        EXPECT_TRUE(rig.op.messageBoxes().first().contains(": PD7 = '"))
            << rig.op.messageBoxes().first().toStdString();
    }
    EXPECT_EQ(rig.op.messageBoxes().first(),
              "Setup file " + path + ": PD7 = '99999999999' is out of range; nothing was written");
    ASSERT_TRUE(writeText(path, dosingFile("PD7=12.5\n")));
    rig.op.clear();
    rig.files->importFile(SetupGroup::Dosing, path);
    EXPECT_EQ(rig.op.messageBoxes().first(),
              "Setup file " + path + ": PD7 = '12.5' is not a whole number; nothing was written");

    // Mended, the file imports whole; without PD7 at all, PD7 is written as 0.
    ASSERT_TRUE(writeText(path, dosingFile("PD7=125\n")));
    EXPECT_TRUE(rig.files->importFile(SetupGroup::Dosing, path));
    QList<QByteArray> written = rig.heard();
    EXPECT_EQ(written.size(), 17);
    EXPECT_EQ(written[6], "PD7 125\r");
    EXPECT_EQ(rig.device->storedParameter("PD7"), 125);
    ASSERT_TRUE(writeText(path, dosingFile("")));
    EXPECT_TRUE(rig.files->importFile(SetupGroup::Dosing, path));
    written = rig.heard();
    EXPECT_EQ(written[6], "PD7 0\r");
    EXPECT_EQ(rig.device->storedParameter("PD7"), 0);
}

TEST(SetupFiles, NoFileWhenTheWriteFailsAnEntryIsNoNumberOrTheFolderIsMissing) {
    QTemporaryDir dir;
    ConfigRig rig(4114);
    rig.dosing->readClicked(DosingParameters::Group::Dosing);
    const QString path = dir.filePath("kept.mxr");
    ASSERT_TRUE(writeText(path, "[DosingCommand]\nPD1=1\n"));
    // Refused at PD2: no dialog, no file, the old file as it was.
    rig.dosing->dosing().setText(1, "77");
    rig.op.fileNames = {path};
    rig.files->exportClicked(SetupGroup::Dosing);
    EXPECT_FALSE(rig.op.events.contains("save: .mxr"));
    EXPECT_EQ(readAll(path), "[DosingCommand]\nPD1=1\n");

    // An entry the file cannot hold is refused before the file is touched.
    rig.dosing->dosing().setText(1, "25");
    rig.dosing->dosing().setText(4, "5x");
    rig.op.clear();
    EXPECT_FALSE(rig.files->writeFile(SetupGroup::Dosing, path));
    EXPECT_EQ(rig.op.messageBoxes(),
              QStringList{"Setup file " + path + ": PD5 = '5x' is not a whole number; nothing was written"});
    EXPECT_EQ(readAll(path), "[DosingCommand]\nPD1=1\n");

    rig.dosing->dosing().setText(4, "+00200");
    rig.op.clear();
    EXPECT_FALSE(rig.files->writeFile(SetupGroup::Dosing, dir.filePath("missing/folder.mxr")));
    EXPECT_EQ(rig.op.messageBoxes(),
              QStringList{" Can not write file!\n" + dir.filePath("missing/folder.mxr") +
                          ": No such file or directory"});
    EXPECT_TRUE(rig.files->writeFile(SetupGroup::Dosing, path));
    EXPECT_TRUE(readAll(path).contains("\nPD5=200\n"));
}

namespace {
QStringList corpusFiles(const QString& folder) {
    QStringList paths;
    const QDir dir(sourceDir() + "/fuzz/" + folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name))
        if (name != ".gitkeep")
            paths << dir.filePath(name);
    return paths;
}
} // namespace

TEST(SetupFileCorpusReplay, SeedsAndPastFindingsReadSafelyAndRoundTrip) {
    const QStringList seeds = corpusFiles("corpus/setupfile");
    ASSERT_GE(seeds.size(), 5) << "seed corpus missing";
    for (const QString& path : seeds + corpusFiles("crashes/setupfile")) {
        const QByteArray bytes = readAll(path);
        for (const SetupGroup group : {SetupGroup::Dosing, SetupGroup::CheckWeigher}) {
            QString error;
            const auto values = SetupFile::parse(bytes, group, &error);
            if (!values) {
                EXPECT_FALSE(error.isEmpty()) << path.toStdString();
                continue;
            }
            QStringList texts;
            for (const qint32 v : *values)
                texts << QString::number(v);
            const auto file = SetupFile::compose(group, {}, texts, &error);
            ASSERT_TRUE(file.has_value()) << path.toStdString();
            EXPECT_EQ(SetupFile::parse(*file, group, &error), values) << path.toStdString();
        }
    }
    // The seeds still reach what they were written for.
    QString error;
    const QString base = sourceDir() + "/fuzz/corpus/setupfile/";
    const auto dosing = SetupFile::parse(readAll(base + "dosing.mxr"), SetupGroup::Dosing, &error);
    ASSERT_TRUE(dosing.has_value());
    EXPECT_EQ(dosing->at(15), 15);
    const auto cw =
        SetupFile::parse(readAll(base + "checkweigher_crlf.mxr"), SetupGroup::CheckWeigher, &error);
    ASSERT_TRUE(cw.has_value());
    EXPECT_EQ(*cw, (QList<qint32>{20, 150, 100, 50, 200, 20, -250, 10, 1, 4000, 5, 0, 500}));
    EXPECT_FALSE(SetupFile::parse(readAll(base + "not_whole.mxr"), SetupGroup::Dosing, &error));
    EXPECT_EQ(error, "PD7 = '12.5' is not a whole number");
    EXPECT_FALSE(SetupFile::parse(readAll(base + "out_of_range.mxr"), SetupGroup::Dosing, &error));
    EXPECT_EQ(error, "PD7 = '99999999999' is out of range");
    EXPECT_FALSE(SetupFile::parse(QByteArray(SetupFile::kMaxSize + 1, '\n'), SetupGroup::Dosing, &error));
}
