#include "app/MainController.h"
#include "base/TimeScale.h"
#include "console/MultiCommandSender.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "link/CanAdapter.h"
#include "link/SerialPort.h"
#include "support/FakeOperator.h"
#include "support/SmallDisk.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <SimpleIni.h>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

using namespace tarvo;

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        devsim::SimulatedPorts::clear();
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("Tarvo/Tarvo.ini");
    }
    void TearDown() override {
        controller.reset();
        devsim::SimulatedPorts::clear();
    }

    void writeIni(const QByteArray& text) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray readIni() const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void startProgram() {
        controller.reset();
        controller = std::make_unique<MainController>(op, std::make_unique<devsim::SimulatedPort>(), path);
        controller->start();
    }
    void closeProgram() {
        controller->shutdown();
        controller.reset();
    }

    QTemporaryDir dir;
    QString path;
    test::FakeOperator op;
    devsim::Line line1;
    devsim::Line line3;
    std::unique_ptr<MainController> controller;
};

} // namespace

TEST_F(SettingsStoreTest, NoFileGivesTheDefaults) {
    devsim::SimulatedPorts::attach(1, &line1);
    startProgram();
    MainController& c = *controller;
    EXPECT_EQ(c.link().port().portNumber(), 1);
    EXPECT_EQ(c.link().port().baudRate(), 115200);
    EXPECT_TRUE(c.link().port().isOpen());
    EXPECT_EQ(c.ports().comChoice(), 1);
    EXPECT_EQ(c.ports().baudChoice(), 115200);
    EXPECT_EQ(c.ports().setupBaud(), "115200");
    EXPECT_FALSE(c.ports().canChosen());
    EXPECT_EQ(c.ports().canNodePosition(), 0);  // CAN_ADDR_1
    EXPECT_EQ(c.ports().canSpeedPosition(), 1); // CAN_BAUD_500K
    const PageSettings& p = c.pageSettings();
    EXPECT_EQ(p.triggerLevel, "15");
    EXPECT_EQ(p.sampleTime, "1000");
    EXPECT_EQ(p.waitForTrigger, "10 sec.");
    EXPECT_EQ(p.graphName, ">Change this text in Graph Options<");
    EXPECT_EQ(p.units, "n");
    EXPECT_EQ(p.fileSeparator, ",");
    EXPECT_EQ(p.separatorChoice, PageSettings::Separator::Comma);
    EXPECT_EQ(c.readout().autotransmit(), "SN");
    EXPECT_EQ(p.worldTop, 9000.0);
    EXPECT_EQ(p.worldBottom, -100.0);
    EXPECT_FALSE(p.longTermSampleEnable);
    EXPECT_EQ(p.useEverySample, "10");
    EXPECT_FALSE(c.ports().searchOnlySelected());
    EXPECT_FALSE(p.useStatusInformation);
    EXPECT_EQ(c.discovery().deviceAddress(), "None");
    EXPECT_EQ(p.multiCommandString, "");
    EXPECT_EQ(p.loopTime, "1000");
    EXPECT_TRUE(line1.receivedLines().isEmpty());
    EXPECT_TRUE(op.messageBoxes().isEmpty());
}

TEST_F(SettingsStoreTest, SeparatorChoiceFollowsTheStoredText) {
    devsim::SimulatedPorts::attach(1, &line1);
    const std::pair<QByteArray, PageSettings::Separator> cases[] = {
        {";", PageSettings::Separator::Semicolon},
        {"|", PageSettings::Separator::Other},
        {",", PageSettings::Separator::Comma},
    };
    for (const auto& [text, choice] : cases) {
        writeIni("[Options]\nFileSeparator=" + text + "\n");
        startProgram();
        EXPECT_EQ(controller->pageSettings().separatorChoice, choice) << text.constData();
        EXPECT_EQ(controller->pageSettings().fileSeparator, QString::fromLatin1(text));
        if (choice == PageSettings::Separator::Other) {
            EXPECT_EQ(controller->pageSettings().customSeparator, "|");
        }
    }
}

TEST_F(SettingsStoreTest, AStoredPortThatIsAbsentFallsBackToTheFirstAvailable) {
    devsim::SimulatedPorts::attach(1, &line1);
    writeIni("[Port]\nBaud=38400\nComNumber=3\n");
    startProgram();
    EXPECT_EQ(controller->ports().comChoice(), 1);
    EXPECT_EQ(controller->link().port().portNumber(), 1);
    EXPECT_TRUE(controller->link().port().isOpen());
    EXPECT_EQ(controller->link().port().baudRate(), 38400);
    EXPECT_EQ(controller->ports().setupBaud(), "38400");
    EXPECT_TRUE(op.messageBoxes().isEmpty()); // silently
}

TEST_F(SettingsStoreTest, NonsenseRatesAndPortsCountAsMissing) {
    devsim::SimulatedPorts::attach(1, &line1);
    devsim::SimulatedPorts::attach(3, &line3);
    for (const QByteArray& text :
         {QByteArray("[Port]\nBaud=0\nComNumber=9\n"), QByteArray("[Port]\nBaud=-5\nComNumber=0\n"),
          QByteArray("[Port]\nBaud=fast\nComNumber=x\n[Display]\nWorldTop=high\n")}) {
        writeIni(text);
        startProgram();
        EXPECT_EQ(controller->link().port().baudRate(), 115200) << text.constData();
        EXPECT_EQ(controller->link().port().portNumber(), 1) << text.constData();
        EXPECT_EQ(controller->pageSettings().worldTop, 9000.0);
    }
    // A rate outside the five is set on the port without touching the buttons; COM5..8 leave them too.
    writeIni("[Port]\nBaud=4800\nComNumber=3\n");
    startProgram();
    EXPECT_EQ(controller->link().port().baudRate(), 4800);
    EXPECT_EQ(controller->ports().baudChoice(), 115200);
    EXPECT_EQ(controller->ports().comChoice(), 3);
}

TEST_F(SettingsStoreTest, EverySettingSurvivesACloseAndRestartAndUnknownKeysStay) {
    devsim::SimulatedPorts::attach(1, &line1);
    devsim::SimulatedPorts::attach(3, &line3);
    writeIni("[ComPorts]\nCOM1=/dev/ttyUSB7\n[User]\nMine=kept "
             "value\n[Options]\nMyOwn=42\n[CAN]\nPlugin=virtualcan\n"
             "Interface=can3\n[Programing]\nProg41FilePath=/opt/Prog41.a20\n");
    startProgram();
    MainController& c = *controller;
    c.ports().baudClicked(19200);
    c.ports().comClicked(3);
    c.ports().setCanNodePosition(6);
    c.ports().setCanSpeedPosition(3);
    c.ports().setCanDeviceAddress(12);
    c.ports().setSearchOnlySelected(true);
    c.readout().restoreAutotransmit("SG");
    c.discovery().setDeviceAddress("05");
    // Sample options and the scope's range are held by the recording and the scope once the program runs.
    c.acquisition().options().triggerLevelEdited("25");
    c.acquisition().options().sampleTimeEdited("2500");
    c.acquisition().options().setWaitForTrigger(6);
    c.graph().setValueWindow(-7.25, 1234.5);
    c.acquisition().options().setLongTermSampleEnable(true);
    c.acquisition().options().setUseEvery(2);
    c.acquisition().options().setUseStatusInformation(true);
    PageSettings& p = c.pageSettings();
    p.graphName = "Line 4 filling";
    p.units = "kg";
    p.setFileSeparator(";");
    // The multi-command line and its loop delay are the sender's.
    c.multiCommandSender().setLine("ID+IV+");
    c.multiCommandSender().setLoopDelay("250");
    closeProgram();

    const QByteArray text = readIni();
    EXPECT_TRUE(text.contains("Mine=kept value"));
    EXPECT_TRUE(text.contains("MyOwn=42"));
    EXPECT_TRUE(text.contains("COM1=/dev/ttyUSB7"));
    EXPECT_TRUE(text.contains("Plugin=virtualcan"));
    EXPECT_TRUE(text.contains("Interface=can3"));
    EXPECT_TRUE(text.contains("Prog41FilePath=/opt/Prog41.a20"));
    EXPECT_TRUE(text.contains("SearchSelectedBaudCom=1\n"));
    EXPECT_TRUE(text.contains("ComNumber=3\n"));
    EXPECT_FALSE(text.contains(" = "));

    startProgram();
    MainController& d = *controller;
    EXPECT_EQ(d.link().port().portNumber(), 3);
    EXPECT_EQ(d.link().port().baudRate(), 19200);
    EXPECT_EQ(d.ports().comChoice(), 3);
    EXPECT_EQ(d.ports().baudChoice(), 19200);
    EXPECT_EQ(d.ports().canNodePosition(), 6);
    EXPECT_EQ(d.ports().canSpeedPosition(), 3);
    EXPECT_EQ(d.ports().canDeviceAddress(), 12);
    EXPECT_TRUE(d.ports().searchOnlySelected());
    EXPECT_EQ(d.readout().autotransmit(), "SG");
    EXPECT_EQ(d.discovery().deviceAddress(), "05");
    const PageSettings& q = d.pageSettings();
    EXPECT_EQ(q.triggerLevel, "25");
    EXPECT_EQ(q.sampleTime, "2500");
    EXPECT_EQ(q.waitForTrigger, "Infinite");
    EXPECT_EQ(q.graphName, "Line 4 filling");
    EXPECT_EQ(q.units, "kg");
    EXPECT_EQ(q.separatorChoice, PageSettings::Separator::Semicolon);
    EXPECT_EQ(q.worldTop, 1234.5);
    EXPECT_EQ(q.worldBottom, -7.25);
    EXPECT_TRUE(q.longTermSampleEnable);
    EXPECT_EQ(q.useEverySample, "100");
    EXPECT_TRUE(q.useStatusInformation);
    EXPECT_EQ(q.multiCommandString, "ID+IV+");
    EXPECT_EQ(q.loopTime, "250");
    closeProgram();

    // Blanks at either end are part of a text: a blank or a tab as the file separator, a command line
    // ending in a blank, a name between quotes.
    for (const QString& separator : {QStringLiteral(" "), QStringLiteral("\t")}) {
        SCOPED_TRACE(separator.toStdString());
        startProgram();
        controller->pageSettings().setFileSeparator(separator);
        controller->pageSettings().graphName = " \"Line 4\" ";
        controller->multiCommandSender().setLine("ID+ ");
        closeProgram();
        startProgram();
        EXPECT_EQ(controller->pageSettings().fileSeparator, separator);
        EXPECT_EQ(controller->pageSettings().separatorChoice, PageSettings::Separator::Other);
        EXPECT_EQ(controller->pageSettings().graphName, " \"Line 4\" ");
        EXPECT_EQ(controller->pageSettings().multiCommandString, "ID+ ");
        controller->pageSettings().graphName = "\"Line 5\"";
        closeProgram();
        startProgram();
        EXPECT_EQ(controller->pageSettings().graphName, "\"Line 5\"");
        closeProgram();
    }
}

TEST_F(SettingsStoreTest, TheKeysAreWrittenInTheirOrderAndBooleansAsOneAndZero) {
    devsim::SimulatedPorts::attach(1, &line1);
    startProgram();
    closeProgram();
    CSimpleIniA ini;
    const QByteArray text = readIni();
    ASSERT_GE(ini.LoadData(text.constData(), static_cast<size_t>(text.size())), 0);
    const char* order[][2] = {{"Port", "Baud"},
                              {"Port", "ComNumber"},
                              {"CAN", "CANbus"},
                              {"CAN", "CANdeviceAddress"},
                              {"CAN", "CANAddress"},
                              {"CAN", "CANspeed"},
                              {"Options", "TriggerLevel"},
                              {"Options", "SampleTime"},
                              {"Options", "WaitForTrigger"},
                              {"Options", "GraphName"},
                              {"Options", "Units"},
                              {"Options", "FileSeparator"},
                              {"Options", "LongTermSampleEnable"},
                              {"Options", "UseEvery__Sample"},
                              {"Options", "SearchSelectedBaudCom"},
                              {"Options", "UseStatusInformation"},
                              {"Display", "Autotransmit"},
                              {"Display", "WorldTop"},
                              {"Display", "WorldBottom"},
                              {"Modules", "DeviceAddr"},
                              {"Commands", "MultiCommandString"},
                              {"Commands", "LoopTime"}};
    qsizetype last = -1;
    for (const auto& key : order) {
        const qsizetype at = text.indexOf(QByteArray("\n") + key[1] + "=");
        EXPECT_GT(at, last) << key[1];
        last = at;
        EXPECT_NE(ini.GetValue(key[0], key[1], nullptr), nullptr) << key[1];
    }
    EXPECT_STREQ(ini.GetValue("CAN", "CANbus"), "0");
    EXPECT_STREQ(ini.GetValue("CAN", "CANAddress"), "CAN_ADDR_1");
    EXPECT_STREQ(ini.GetValue("CAN", "CANspeed"), "CAN_BAUD_500K");
    EXPECT_STREQ(ini.GetValue("Display", "WorldTop"), "9000");
    // Any non-zero integer reads as true.
    writeIni("[Options]\nSearchSelectedBaudCom=2\n");
    startProgram();
    EXPECT_TRUE(controller->ports().searchOnlySelected());
}

TEST_F(SettingsStoreTest, StartingWithStoredGrossAndCanSpeedSendsNothingBeforeTheDisplayPage) {
    devsim::SimulatedPorts::attach(1, &line1);
    devsim::DeviceConfig config;
    config.baud = 9600;
    line1.addDevice(config);
    writeIni("[Port]\nBaud=9600\nComNumber=1\n[CAN]\nCANspeed=CAN_BAUD_125K\n[Display]\nAutotransmit=SG\n");
    startProgram();
    EXPECT_TRUE(line1.receivedLines().isEmpty());
    EXPECT_TRUE(op.messageBoxes().isEmpty());
    EXPECT_EQ(controller->ports().canSpeedPosition(), 3);
    controller->displayPageShown();
    EXPECT_EQ(line1.receivedTexts(), (QList<QByteArray>{"SG\r"}));
}

TEST_F(SettingsStoreTest, CanLinkIsRestoredWithoutTraffic) {
    devsim::SimulatedPorts::attach(1, &line1);
    writeIni("[CAN]\nCANbus=1\nCANAddress=CAN_ADDR_7\nCANdeviceAddress=3\n");
    startProgram();
    EXPECT_TRUE(controller->ports().canChosen());
    EXPECT_TRUE(controller->ports().canOptionsVisible());
    EXPECT_EQ(controller->ports().canNodePosition(), 6);
    EXPECT_EQ(controller->ports().canDeviceAddress(), 3);
    EXPECT_TRUE(line1.receivedLines().isEmpty());
    closeProgram();
    EXPECT_TRUE(readIni().contains("CANbus=1\n"));
}

TEST_F(SettingsStoreTest, AProgramClosedBeforeItsPortsStartedKeepsTheStoredPortAndCanChoices) {
    // The window opens the ports once it is on screen; closed before (a TERM signal at once), the link
    // still holds its defaults, which must not replace what the file says.
    devsim::SimulatedPorts::attach(1, &line1);
    devsim::SimulatedPorts::attach(3, &line3);
    writeIni("[Port]\nBaud=38400\nComNumber=3\n[CAN]\nCANbus=1\nCANAddress=CAN_ADDR_7\nCANdeviceAddress=3\n"
             "CANspeed=CAN_BAUD_125K\n[Options]\nUnits=kg\n");
    controller = std::make_unique<MainController>(op, std::make_unique<devsim::SimulatedPort>(), path);
    controller->startWithoutPorts();
    EXPECT_FALSE(controller->link().port().isOpen());
    EXPECT_EQ(controller->pageSettings().units, "kg"); // the rest is read and shown at once
    controller->pageSettings().units = QStringLiteral("t");
    closeProgram();
    const QByteArray written = readIni();
    for (const char* kept : {"Baud=38400\n", "ComNumber=3\n", "CANbus=1\n", "CANAddress=CAN_ADDR_7\n",
                             "CANdeviceAddress=3\n", "CANspeed=CAN_BAUD_125K\n"})
        EXPECT_TRUE(written.contains(kept)) << kept << " in\n" << written.constData();
    EXPECT_TRUE(written.contains("Units=t\n"));
    EXPECT_TRUE(line1.receivedLines().isEmpty());

    // Started as usual, the same choices are applied once, and a second start of the ports does nothing.
    startProgram();
    EXPECT_EQ(controller->link().port().portNumber(), 3);
    EXPECT_EQ(controller->link().port().baudRate(), 38400);
    EXPECT_TRUE(controller->ports().canChosen());
    EXPECT_EQ(controller->ports().canNodePosition(), 6);
    controller->ports().comClicked(1);
    controller->startPorts();
    EXPECT_EQ(controller->link().port().portNumber(), 1);
    EXPECT_FALSE(controller->ports().canChosen());
}

TEST_F(SettingsStoreTest, StoredScopeRangesOutsideTheirBoundsCountAsMissing) {
    devsim::SimulatedPorts::attach(1, &line1);
    const struct {
        QByteArray text;
        double top, bottom;
    } cases[] = {
        {"WorldTop=inf\n", 9000, -100},
        {"WorldTop=-inf\nWorldBottom=-inf\n", 9000, -100},
        {"WorldTop=nan\nWorldBottom=nan\n", 9000, -100},
        {"WorldTop=1e308\n", 9000, -100},
        {"WorldBottom=-1e308\n", 9000, -100},
        {"WorldTop=10000001\nWorldBottom=-10000001\n", 9000, -100},
        {"WorldTop=high\nWorldBottom=low\n", 9000, -100},
        // The top must lie above the bottom, or neither is taken.
        {"WorldTop=-500\nWorldBottom=200\n", 9000, -100},
        {"WorldTop=50\nWorldBottom=50\n", 9000, -100},
        {"WorldTop=-200\n", 9000, -100},
        // Inside the bounds, kept.
        {"WorldTop=10000000\nWorldBottom=-10000000\n", 1e7, -1e7},
        {"WorldTop=12.5\nWorldBottom=-3.25\n", 12.5, -3.25},
        {"WorldTop=500\nWorldBottom=inf\n", 500, -100},
    };
    for (const auto& c : cases) {
        writeIni("[Display]\n" + c.text);
        startProgram();
        EXPECT_EQ(controller->pageSettings().worldTop, c.top) << c.text.constData();
        EXPECT_EQ(controller->pageSettings().worldBottom, c.bottom) << c.text.constData();
        EXPECT_EQ(controller->graph().top(), c.top) << c.text.constData();
        EXPECT_EQ(controller->graph().bottom(), c.bottom) << c.text.constData();
    }
    writeIni("[Display]\nWorldTop=inf\nWorldBottom=nan\n");
    startProgram();
    closeProgram();
    CSimpleIniA ini;
    ASSERT_GE(ini.LoadFile(path.toLocal8Bit().constData()), 0);
    EXPECT_STREQ(ini.GetValue("Display", "WorldTop"), "9000");
    EXPECT_STREQ(ini.GetValue("Display", "WorldBottom"), "-100");
}

TEST_F(SettingsStoreTest, OnlyNoneAndAddressesZeroToSixtyThreeAreTakenAsTheDeviceAddress) {
    devsim::SimulatedPorts::attach(1, &line1);
    const std::pair<QByteArray, const char*> cases[] = {
        {"5", "None"},  {"64", "None"}, {"5; rm -rf x", "None"}, {"ab", "None"},
        {"-1", "None"}, {"", "None"},   {"0x1", "None"},         {"07", "07"},
        {"63", "63"},   {"00", "00"},   {"None", "None"},
    };
    for (const auto& [stored, taken] : cases) {
        writeIni("[Modules]\nDeviceAddr=" + stored + "\n");
        startProgram();
        EXPECT_EQ(controller->discovery().deviceAddress(), taken) << stored.constData();
        closeProgram();
        CSimpleIniA ini;
        ASSERT_GE(ini.LoadFile(path.toLocal8Bit().constData()), 0);
        EXPECT_STREQ(ini.GetValue("Modules", "DeviceAddr"), taken) << stored.constData();
    }
}

TEST_F(SettingsStoreTest, AFullDiskLeavesTheOldFileAndTheOperatorIsToldWhy) {
    test::SmallDisk disk(64);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    devsim::SimulatedPorts::attach(1, &line1);
    path = disk.path("Tarvo/Tarvo.ini");
    writeIni("[User]\nMine=kept\n");
    const QByteArray old = readIni();
    startProgram();
    // Longer than the one free block: the write fails half-way, after the first block went out.
    controller->multiCommandSender().setLine(QString(6000, 'A'));
    disk.fill(4096);
    closeProgram();
    EXPECT_EQ(readIni(), old);
    EXPECT_EQ(op.messageBoxes(), QStringList{"Settings not saved: " + path + ": No space left on device"});
    EXPECT_EQ(disk.entries("Tarvo"), QStringList{"Tarvo.ini"}); // no temporary file left behind
}

TEST_F(SettingsStoreTest, SettingsThatCannotBeSavedAreReportedOnceAndClosingCompletes) {
    devsim::SimulatedPorts::attach(1, &line1);
    test::SmallDisk disk(64);
    QString reason = QStringLiteral("Permission denied");
    if (geteuid() != 0) { // a folder without write permission stops anyone but root
        writeIni("[User]\nMine=kept\n");
        QFile::setPermissions(dir.filePath("Tarvo"), QFile::ReadOwner | QFile::ExeOwner);
    } else if (disk.mounted()) { // root writes anywhere but on a read-only disk
        path = disk.path("Tarvo/Tarvo.ini");
        writeIni("[User]\nMine=kept\n");
        ASSERT_TRUE(disk.makeReadOnly());
        reason = QStringLiteral("Read-only file system");
    } else {
        GTEST_SKIP() << disk.whyNot();
    }
    startProgram();
    controller->multiCommandSender().setLoopDelay("250");
    controller->shutdown();
    controller->shutdown(); // a second close says nothing more
    EXPECT_EQ(op.messageBoxes(), QStringList{"Settings not saved: " + path + ": " + reason});
    EXPECT_EQ(readIni(), "[User]\nMine=kept\n");
    // Closing went on past the failed save.
    EXPECT_TRUE(controller->stepLog().contains("serial port freed"));
    EXPECT_FALSE(controller->link().port().isOpen());
    QFile::setPermissions(dir.filePath("Tarvo"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(SettingsStoreTest, DamagedLinesLoseNothingAndRestartsWriteTheSameFile) {
    devsim::SimulatedPorts::attach(1, &line1);
    // After a byte-order mark too, and where a carriage return alone ends the line.
    writeIni("\xEF\xBB\xBF[Modules\nDeviceAddr=07\n[User\r\nMine=kept\n[Trace\rLast=1]\n");
    startProgram();
    // A header without its bracket: its line is the section, as the Windows profile functions read it.
    EXPECT_EQ(controller->discovery().deviceAddress(), "07");
    closeProgram();
    const QByteArray first = readIni();
    EXPECT_TRUE(first.contains("[User]\nMine=kept\n\n\n[Trace]\nLast=1]\n")) << first.toStdString();
    // A second start and close writes the same file: nothing grows from one save to the next.
    startProgram();
    closeProgram();
    EXPECT_EQ(readIni(), first);

    // A stray zero byte loses nothing that follows it, and a lone "[]" leaves no trace.
    writeIni(QByteArray("[]\n[User]\nMine=ke\0pt\n[Programing]\nProg41FilePath=/opt/Prog41.a20\n", 65));
    startProgram();
    closeProgram();
    const QByteArray second = readIni();
    EXPECT_TRUE(second.startsWith("[User]\nMine=kept\n\n\n[Programing]\nProg41FilePath=/opt/Prog41.a20\n"))
        << second.toStdString();
    startProgram();
    closeProgram();
    EXPECT_EQ(readIni(), second);
}

TEST_F(SettingsStoreTest, ASettingsFileThatIsALinkStaysALinkAndItsTargetIsWritten) {
    devsim::SimulatedPorts::attach(1, &line1);
    // The user keeps the file elsewhere, in a folder of its own, and links it in.
    const QString kept = dir.filePath("shared/Tarvo.ini");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("shared")));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("Tarvo")));
    {
        QFile f(kept);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[User]\nMine=kept\n");
    }
    ASSERT_TRUE(QFile::link("../shared/Tarvo.ini", path));
    startProgram();
    controller->multiCommandSender().setLoopDelay("250");
    closeProgram();
    EXPECT_TRUE(op.messageBoxes().isEmpty()) << op.messageBoxes().join('\n').toStdString();
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    QFile f(kept);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.startsWith("[User]\nMine=kept\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("LoopTime=250\n")) << text.toStdString();
    EXPECT_EQ(QDir(dir.filePath("shared")).entryList(QDir::Files | QDir::Hidden), QStringList{"Tarvo.ini"});
}

namespace {

// Root reads every file whatever its mode: for the length of a scope this thread gives up the two
// capabilities that let it, so a 0200 file is as unreadable to it as to any user.
class WithoutReadOverride {
public:
    WithoutReadOverride() {
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutReadOverride() {
        if (active_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    WithoutReadOverride(const WithoutReadOverride&) = delete;
    WithoutReadOverride& operator=(const WithoutReadOverride&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

QString notReadText(const QString& path, const QString& reason) {
    return "Settings could not be read: " + path + ": " + reason + "; they will not be saved";
}

} // namespace

// A settings file that is there but cannot be read is never written: writing the defaults over it
// would lose every setting and section it holds (it once did, at every close).
TEST_F(SettingsStoreTest, AnUnreadableSettingsFileIsNeverOverwrittenAndTheOperatorIsTold) {
    devsim::SimulatedPorts::attach(1, &line1);
    const QByteArray text = "[ComPorts]\nCOM1=/dev/ttyUSB7\n[Port]\nBaud=19200\n[User]\nMine=kept\n";
    writeIni(text);
    ASSERT_TRUE(QFile::setPermissions(path, QFile::WriteOwner));
    {
        WithoutReadOverride unprivileged;
        startProgram();
    }
    EXPECT_EQ(op.messageBoxes(), QStringList{notReadText(path, "Permission denied")});
    controller->multiCommandSender().setLoopDelay("250");
    closeProgram();
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_EQ(readIni(), text);
    EXPECT_EQ(op.messageBoxes().size(), 1); // nothing more at the close
}

// A settings file that is a pipe would hang every start in its open; it and a folder are taken as
// unreadable, said once, and left as they are.
TEST_F(SettingsStoreTest, ASettingsFileThatIsAPipeOrAFolderIsNotWaitedOnNorReplaced) {
    devsim::SimulatedPorts::attach(1, &line1);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0666), 0);
    // Should a reader block in its open, a writer that comes and goes after a while releases it, so the
    // test fails instead of hanging.
    std::atomic<bool> started{false};
    std::thread release([&] {
        for (int i = 0; i < 500 && !started; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (int i = 0; i < 50 && !started; ++i) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    // Every reader of the file: the port map, the CAN adapter's place, the settings themselves.
    EXPECT_TRUE(ComPortMap::readConfigured(path).isEmpty());
    EXPECT_EQ(CanAdapterPlace::fromSettings(path).plugin, CanAdapterPlace::defaults().plugin);
    startProgram();
    started = true;
    release.join();
    EXPECT_EQ(op.messageBoxes(), QStringList{notReadText(path, "Is a pipe, not a regular file")});
    closeProgram();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList{"Tarvo.ini"});

    ASSERT_EQ(::unlink(QFile::encodeName(path).constData()), 0);
    ASSERT_TRUE(QDir().mkpath(path));
    op.clear();
    startProgram();
    closeProgram();
    EXPECT_EQ(op.messageBoxes(), QStringList{notReadText(path, "Is a directory")});
    EXPECT_TRUE(QFileInfo(path).isDir());

    // A device of its own (root may make one; never the machine's) stays a device.
    ASSERT_TRUE(QDir().rmdir(path));
    if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        return;
    op.clear();
    startProgram();
    closeProgram();
    EXPECT_EQ(op.messageBoxes(), QStringList{notReadText(path, "Is a character device, not a regular file")});
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

// Texts from a Windows-era tool are Latin-1: read as such, and written back byte for byte (they were
// once written back with U+FFFD in place of every such letter).
TEST_F(SettingsStoreTest, NonUtf8TextsAreReadAsLatin1AndWrittenBackByteForByte) {
    devsim::SimulatedPorts::attach(1, &line1);
    const QByteArray text =
        "[Options]\nGraphName=F\xfcllung\nUnits=\xb5m\n[User]\nName=M\xfcller \xe9t\xe9\n";
    writeIni(text);
    startProgram();
    EXPECT_EQ(controller->graph().caption(), QString::fromUtf8("F\xc3\xbcllung"));
    EXPECT_EQ(controller->pageSettings().units, QString::fromUtf8("\xc2\xb5m"));
    closeProgram();
    QByteArray written = readIni();
    EXPECT_TRUE(written.startsWith("[Options]\nGraphName=F\xfcllung\nUnits=\xb5m\n"))
        << written.toStdString();
    EXPECT_TRUE(written.contains("[User]\nName=M\xfcller \xe9t\xe9\n")) << written.toStdString();
    EXPECT_FALSE(written.contains("\xef\xbf\xbd")); // no replacement character anywhere
    // Another start and close changes nothing; a text the operator changed is written as UTF-8.
    startProgram();
    closeProgram();
    EXPECT_EQ(readIni(), written);
    startProgram();
    controller->pageSettings().units = QString::fromUtf8("\xc2\xb5N");
    closeProgram();
    written = readIni();
    EXPECT_TRUE(written.contains("\nUnits=\xc2\xb5N\n")) << written.toStdString();
    EXPECT_TRUE(written.contains("GraphName=F\xfcllung\n")) << written.toStdString();
}

// A text setting far longer than any entry shows (a 50 MB graph name froze the window at every start
// and was written back at every close) is cut when read, and said once.
TEST_F(SettingsStoreTest, AnOverlongTextSettingIsCutWhenReadAndSaidOnce) {
    devsim::SimulatedPorts::attach(1, &line1);
    writeIni("[Options]\nGraphName=" + QByteArray(5 << 20, 'G') +
             "\nUnits=kg\n[Commands]\nMultiCommandString=" + QByteArray(5000, 'C') + "\n");
    startProgram();
    EXPECT_EQ(controller->graph().caption(), QString(SettingsStore::kMaxTextLength, 'G'));
    EXPECT_EQ(controller->multiCommandSender().line(), QString(SettingsStore::kMaxTextLength, 'C'));
    EXPECT_EQ(controller->pageSettings().units, "kg");
    EXPECT_EQ(op.messageBoxes(),
              QStringList{"Settings: GraphName, MultiCommandString longer than 1024 characters "
                          "in " +
                          path + "; only the first 1024 are used"});
    closeProgram();
    EXPECT_LT(readIni().size(), 4000);
    op.clear();
    startProgram();
    closeProgram();
    EXPECT_TRUE(op.messageBoxes().isEmpty());
}

// Without HOME and XDG_CONFIG_HOME the settings once went to "/.config" at the file system's root.
TEST(SettingsPlace, WithoutHomeTheUsersHomeFromThePasswordDatabaseIsUsed) {
    const QByteArray home = qgetenv("HOME");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const bool hadHome = qEnvironmentVariableIsSet("HOME");
    const bool hadConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qunsetenv("HOME");
    qunsetenv("XDG_CONFIG_HOME");
    const QString place = MainController::defaultSettingsPath();
    if (hadHome)
        qputenv("HOME", home);
    if (hadConfig)
        qputenv("XDG_CONFIG_HOME", config);
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(place, QFile::decodeName(user->pw_dir) + "/.config/Tarvo/Tarvo.ini");
    EXPECT_FALSE(place.startsWith("/.config"));
}

// A link to a settings file that is not there yet is a missing file: the defaults, no word, and the
// close makes the file the link names.
TEST_F(SettingsStoreTest, ALinkToASettingsFileNotMadeYetIsFilledAtTheClose) {
    devsim::SimulatedPorts::attach(1, &line1);
    const QString kept = dir.filePath("shared/Tarvo.ini");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("shared")));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("Tarvo")));
    ASSERT_TRUE(QFile::link("../shared/Tarvo.ini", path));
    startProgram();
    controller->multiCommandSender().setLoopDelay("250");
    closeProgram();
    EXPECT_TRUE(op.messageBoxes().isEmpty()) << op.messageBoxes().join('\n').toStdString();
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    QFile f(kept);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("LoopTime=250\n"));
}
