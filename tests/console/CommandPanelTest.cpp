// "Show CMD", the command buttons' presses and the page's labels, against a simulated device and a
// private "Tarvocommand.ini".
#include "ConsoleRig.h"
#include "console/CommandFile.h"

#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

constexpr char kCommands[] = "[CMD1]\nCMD=TL\nAnswer=T\nRead=1\nWrite=1\nMax=99999\nMin=0\nUnit=counts\n"
                             "Text=Trig\nDescription=Trigger level\nTimeout=500\n"
                             // no "Read": a button without any traffic
                             "[CMD2]\nCMD=CZ\nAnswer=O\n"
                             // refused: no button
                             "[CMD3]\nCMD=XX\nAnswer=\nRead=1\n"
                             // acknowledged: a button with an empty value
                             "[cmd4]\ncmd=WP\nanswer=O\nread=1\n"
                             // never framed: asked twice, no button
                             "[CMD5]\nCMD=ID\nAnswer=Q:\nRead=1\n"
                             // after 49 missing sections: still read
                             "[CMD55]\nCMD=IV\nAnswer=V:\nRead=1\nWrite=1\n"
                             // after 50 missing sections: never read
                             "[CMD106]\nCMD=GG\nAnswer=G\nRead=1\n";

QStringList names(const std::vector<CommandButton>& buttons) {
    QStringList list;
    for (const CommandButton& b : buttons)
        list << QStringLiteral("%1@%2,%3=%4").arg(b.command).arg(b.left).arg(b.top).arg(b.valueLabel);
    return list;
}

} // namespace

TEST(CommandPanel, ShowCmdAsksTheReadableCommandsAndBuildsButtonsForThoseAnswered) {
    ConsoleRig rig;
    ASSERT_TRUE(rig.write("Tarvocommand.ini", kCommands));
    MainController& c = *rig.controller;
    MultiCommandSender& sender = c.multiCommandSender();
    sender.setLine("ID+");
    sender.setLoopDelay("100000");
    sender.sendInLoopToggled(true);
    ASSERT_TRUE(sender.loopRunning());
    c.commandPanel().setAreaWidth(680); // three buttons to a row

    c.commandPanel().showCmdClicked();

    EXPECT_FALSE(sender.loopRunning());
    EXPECT_FALSE(sender.sendInLoop());
    EXPECT_EQ(rig.log(), (QStringList{"PLEASE WAIT... searching for available commands!", "TL", "+00150",
                                      "CZ", "XX", "ERR", "WP", "K", "ID", "TimeOutErr", "IV", "1.00"}));
    EXPECT_EQ(names(c.commandPanel().buttons()),
              (QStringList{"TL@300,50=+00150", "CZ@400,50=", "WP@500,50=", "IV@300,95=1.00"}));
    const QList<QByteArray> scan = rig.receivedFrom("TL\r");
    ASSERT_GE(scan.size(), 9);
    EXPECT_EQ(scan.mid(0, 8),
              (QList<QByteArray>{"TL\r", "XX\r", "WP\r", "ID\r", "ID\r", "IV\r", "\r", "SR\r"}));
    EXPECT_FALSE(rig.line.receivedTexts().contains("GG\r"));
    EXPECT_FALSE(rig.line.receivedTexts().contains("CZ\r"));
    // The closing reset, then the device is looked for and found again.
    EXPECT_TRUE(rig.op.infoMessages().contains("Software reset... please wait!"));
    EXPECT_EQ(scan.mid(8, 1), QList<QByteArray>{"ID\r"});
    EXPECT_EQ(rig.op.infoMessages().last(), "Device found at COM1  running 115200baud");
    EXPECT_TRUE(c.pageControlEnabled());
    EXPECT_FALSE(c.commandPanel().isBusy());

    // Nothing found: the buttons stay as they were.
    rig.line.setFault(devsim::Line::Fault::Err);
    c.commandPanel().showCmdClicked();
    EXPECT_EQ(c.commandPanel().buttons().size(), 4u);
    EXPECT_EQ(rig.op.infoMessages().last(), "Device: not found!... please reset device and try again!");
    rig.line.setFault(devsim::Line::Fault::None);

    // A closing reset the device does not confirm (it is still restarting from the "SR" of the file) is
    // reported, and nothing is looked for after it.
    rig.device()->setResetMs(10000);
    ASSERT_TRUE(rig.write("Tarvocommand.ini", "[CMD1]\nCMD=SR\nAnswer=O\nRead=1\n"));
    rig.line.clearReceived();
    c.commandPanel().showCmdClicked();
    EXPECT_EQ(names(c.commandPanel().buttons()), QStringList{"SR@300,50="});
    EXPECT_EQ(rig.receivedFrom("SR\r"), (QList<QByteArray>{"SR\r", "\r", "SR\r"}));
    EXPECT_EQ(rig.op.infoMessages().last(), "Communication error... Power on and off and try again!");
    EXPECT_TRUE(c.pageControlEnabled());
}

TEST(CommandPanel, SectionsBeyondTheButtonSlotsAreRefusedWithALogLine) {
    ConsoleRig rig;
    QByteArray file;
    for (int n = 1; n <= 2010; n += 49) // 42 sections, never 50 missing in a row
        file += "[CMD" + QByteArray::number(n) + "]\nCMD=C" + QByteArray::number(n) + "\n";
    ASSERT_TRUE(rig.write("Tarvocommand.ini", file));
    rig.controller->commandPanel().showCmdClicked();
    EXPECT_EQ(rig.controller->commandPanel().buttons().size(), 41u);
    EXPECT_EQ(rig.controller->commandPanel().buttons().back().number, 1961);
    EXPECT_EQ(rig.log().last(), "CMD2010 and the sections after it not read: there are buttons for CMD1 to "
                                "CMD2000 only");
}

TEST(CommandPanel, PressesReadAndWriteWithinTheRangeAndThePointerShowsTheButton) {
    ConsoleRig rig;
    ASSERT_TRUE(rig.write("Tarvocommand.ini", kCommands));
    MainController& c = *rig.controller;
    CommandPanel& panel = c.commandPanel();
    panel.showCmdClicked();
    ASSERT_EQ(panel.buttons().size(), 4u);
    c.commandLog().clear();

    panel.hovered(0);
    EXPECT_EQ(panel.descriptionLabel(), "Trigger level");
    EXPECT_EQ(panel.maxLabel(), "Max: 99999");
    EXPECT_EQ(panel.minLabel(), "Min: 0");
    EXPECT_EQ(panel.unitLabel(), "Unit: counts");
    EXPECT_EQ(panel.valueLabel(), "Value: +00150");
    EXPECT_EQ(panel.buttons()[0].hint(), "Trigger level\n(Right-click to set value)");

    // Out of range, malformed or cancelled: refused, and nothing reaches the device.
    rig.line.clearReceived();
    rig.op.clear();
    rig.op.values = {"-5", "1-2", "", "+"};
    for (int i = 0; i < 4; ++i)
        panel.rightPressed(0);
    EXPECT_TRUE(rig.line.receivedTexts().isEmpty());
    EXPECT_EQ(rig.op.messageBoxes(),
              (QStringList{"-5 is not in range 0 to 99999", "1-2 is not in range 0 to 99999",
                           "+ is not in range 0 to 99999"}));
    EXPECT_EQ(rig.op.events.first(), "value: Trig | Range: 0 to 99999 | Units: counts");

    rig.op.values = {"250"};
    panel.rightPressed(0);
    EXPECT_EQ(rig.line.receivedTexts(), (QList<QByteArray>{"TL 250\r", "TL\r"}));
    EXPECT_EQ(rig.device()->parameter("TL"), 250);
    EXPECT_EQ(rig.log(), (QStringList{"TL 250", "OK", "TL", "T+00250"}));
    EXPECT_EQ(panel.buttons()[0].lastValue, "+00250");
    EXPECT_EQ(panel.buttons()[0].valueLabel, "+00250");
    EXPECT_EQ(panel.valueLabel(), "Value: +00250");
    EXPECT_FALSE(panel.buttons()[0].pressed);

    // A refused write ("ERR" is not framed by "O") is logged as no answer and leaves the value alone.
    rig.device()->setRefuseAll(true);
    rig.op.values = {"300"};
    panel.rightPressed(0);
    EXPECT_EQ(rig.log().mid(4), (QStringList{"TL 300", "TimeOutErr"}));
    EXPECT_EQ(panel.buttons()[0].valueLabel, "+00250");
    rig.device()->setRefuseAll(false);

    // A left press reads; the answer is shown unless it never came.
    c.commandLog().clear();
    rig.line.clearReceived();
    panel.leftPressed(3);
    EXPECT_EQ(rig.line.receivedTexts(), QList<QByteArray>{"IV\r"});
    EXPECT_EQ(rig.log(), (QStringList{"IV", "V:1.00"}));
    rig.line.setFault(devsim::Line::Fault::Silent);
    panel.leftPressed(0);
    EXPECT_EQ(rig.log().mid(2), (QStringList{"TL", "TimeOutErr"}));
    EXPECT_EQ(panel.buttons()[0].valueLabel, "+00250");
    EXPECT_EQ(panel.buttons()[0].lastValue, "TimeOutErr");
    rig.line.setFault(devsim::Line::Fault::None);

    // Only a button that can be read and written opens the window: CZ has no "Write".
    rig.op.clear();
    panel.rightPressed(1);
    EXPECT_TRUE(rig.op.events.isEmpty());
}

TEST(CommandPanel, TheCommandFileComesFromTheSettingsFolderElseFromTheInstalledData) {
    ConsoleRig rig;
    const QString settings = rig.dir.filePath("Tarvo.ini");
    const QString installed = MainController::dataFolder() + "/Tarvocommand.ini";
    EXPECT_EQ(MainController::commandFilePath(settings), installed);
    ASSERT_TRUE(QFile::exists(installed)) << installed.toStdString();
    ASSERT_TRUE(rig.write("Tarvocommand.ini", "[CMD1]\nCMD=ID\n"));
    EXPECT_EQ(MainController::commandFilePath(settings), rig.dir.filePath("Tarvocommand.ini"));

    // A file of another kind gives no button and says so.
    ASSERT_TRUE(rig.write("Tarvocommand.ini", "[Port]\nBaud=115200\n"));
    rig.controller->commandPanel().showCmdClicked();
    EXPECT_TRUE(rig.controller->commandPanel().buttons().empty());
    EXPECT_TRUE(rig.log().contains("Tarvocommand.ini holds no command sections: " +
                                   rig.dir.filePath("Tarvocommand.ini")))
        << rig.log().join('\n').toStdString();

    // The operator's own file is a link to a share not mounted now: it is still the one read, and its read
    // says why it failed, instead of the installed sample's commands going to the device.
    const QString own = rig.dir.filePath("Tarvocommand.ini");
    ASSERT_TRUE(QFile::remove(own));
    ASSERT_TRUE(QFile::link(rig.dir.filePath("share/Tarvocommand.ini"), own));
    EXPECT_EQ(MainController::commandFilePath(settings), own);
    rig.controller->commandPanel().showCmdClicked();
    EXPECT_TRUE(rig.controller->commandPanel().buttons().empty());
    EXPECT_FALSE(rig.log().filter("Tarvocommand.ini not read: " + own).isEmpty())
        << rig.log().join('\n').toStdString();
}
