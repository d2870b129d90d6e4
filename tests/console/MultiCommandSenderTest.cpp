// The multi-command line against simulated devices: what each character does, the address range, the
// loop and its delay check, and the line and delay kept in "Tarvo.ini".
#include "ConsoleRig.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

TEST(MultiCommandSender, TheLogStartsWithTheHelpTextAsTabled) {
    ConsoleRig rig;
    const QStringList expected{"+  = Carrige Return",
                               "/  = 500ms pause",
                               "<  = Last result from ",
                               "connected device",
                               "",
                               "\"Clear after enter\"",
                               "Clear command field after ",
                               "enter!",
                               "",
                               "\"Send in loop\"",
                               "Send command and wait ",
                               "XXXms before sending ",
                               "command again",
                               "",
                               "Example1:",
                               "CE+CE<+",
                               "This will open the device for ",
                               "calibration... the TAC value are ",
                               "stored in \"<\" ",
                               "",
                               "Example2:",
                               "CE+CE<+CZ+//////////CE+CE<+",
                               "CG10000+//////////CE+CE<+CS",
                               "+",
                               "Open device for calibration.... ",
                               "calibrate zero... wait 5sec... ",
                               "calibrate gain.... wait 5sec..... ",
                               "save calibration",
                               "",
                               "Example3:",
                               "IV+  ... and \"Do command from ",
                               "adr: 1 to 4\"",
                               "will get the firmware info from ",
                               "adr 1, 2, 3 and 4",
                               ""};
    EXPECT_EQ(rig.controller->commandLog().lines(), expected);
    EXPECT_STREQ(MultiCommandSender::kHint, "(+ )= CarrigeReturn   ( /)= 500ms pause   (Example: ID+//GS+)");
}

TEST(MultiCommandSender, EachCommandIsSentInTurnAndTheLastAnswersDigitsAreCarriedOver) {
    ConsoleRig rig;
    MultiCommandSender& sender = rig.controller->multiCommandSender();
    const QByteArray code = QByteArray::number(rig.device()->unlockCode()).rightJustified(5, '0');

    sender.setLine("CE+CE<+");
    sender.enterClicked();
    EXPECT_EQ(rig.line.receivedTexts(), (QList<QByteArray>{"CE\r", "CE" + code + "\r"}));
    EXPECT_TRUE(rig.device()->isUnlocked());
    EXPECT_EQ(rig.log(), (QStringList{"CE", "E+" + code, "CE" + code, "OK"}));
    EXPECT_EQ(sender.lastResult(), code);

    // An answer without digits leaves the last result as it was, also for the next line; a line without
    // a final "+" gets one.
    rig.line.clearReceived();
    sender.setLine("WP+CE<");
    sender.enterClicked();
    EXPECT_EQ(sender.line(), "WP+CE<+");
    EXPECT_EQ(rig.line.receivedTexts(), (QList<QByteArray>{"WP\r", "CE" + code + "\r"}));

    // Each "/" pauses 500 ms on the serial link; an unanswered command logs "TimeOutErr" and the line goes
    // on.
    rig.line.clearReceived();
    rig.controller->commandLog().clear();
    sender.setLine("ID+//XQ+GS+");
    QElapsedTimer sent;
    sent.start();
    sender.enterClicked();
    EXPECT_GE(sent.elapsed(), TimeScale::ms(1000));
    EXPECT_EQ(rig.line.receivedTexts(), (QList<QByteArray>{"ID\r", "XQ\r", "GS\r"}));
    EXPECT_EQ(rig.log(), (QStringList{"ID", "D:4110", "XQ", "ERR", "GS", "S+00000"}));
    rig.line.setFault(devsim::Line::Fault::Silent);
    sender.setLine("IV+");
    sender.enterClicked();
    EXPECT_EQ(rig.log().mid(6), (QStringList{"IV", "TimeOutErr"}));
    rig.line.setFault(devsim::Line::Fault::None);

    // "Clear after ENTER" empties the line once it has gone out and gives the entry the focus.
    QSignalSpy focus(&sender, &MultiCommandSender::lineFocusRequested);
    sender.setClearAfterEnter(true);
    sender.setLine("ID");
    sender.enterClicked();
    EXPECT_TRUE(sender.line().isEmpty());
    EXPECT_EQ(focus.count(), 1);
    rig.line.clearReceived();
    sender.enterClicked(); // an empty line sends nothing
    EXPECT_TRUE(rig.line.receivedTexts().isEmpty());
}

TEST(MultiCommandSender, AnAddressRangeOpensEachDeviceBeforeTheLine) {
    devsim::DeviceConfig second = streamingDevice();
    second.address = 2;
    devsim::DeviceConfig third = streamingDevice();
    third.address = 3;
    third.identity = 4114;
    ConsoleRig rig({second, third});
    MultiCommandSender& sender = rig.controller->multiCommandSender();
    sender.setFromAddress("02");
    sender.setToAddress("03");
    sender.setLine("ID+");
    sender.enterClicked();
    EXPECT_EQ(rig.log(), (QStringList{"OP2", "ID", "D:4110", "OP3", "ID", "D:4114"}));
    EXPECT_EQ(rig.line.receivedTexts(), (QList<QByteArray>{"OP2\r", "ID\r", "OP3\r", "ID\r"}));

    // A range that ends below its start sends nothing.
    rig.line.clearReceived();
    sender.setFromAddress("03");
    sender.setToAddress("02");
    sender.enterClicked();
    EXPECT_TRUE(rig.line.receivedTexts().isEmpty());
}

TEST(MultiCommandSender, TheLoopResendsAfterItsDelayUntilStoppedAndABadDelayBecomes1000) {
    ConsoleRig rig({streamingDevice()}, "[Port]\nBaud=115200\nComNumber=1\n"
                                        "[Commands]\nMultiCommandString=ID+\nLoopTime=0\n");
    MainController& c = *rig.controller;
    MultiCommandSender& sender = c.multiCommandSender();
    EXPECT_EQ(sender.line(), "ID+");
    EXPECT_EQ(sender.loopDelay(), "0");

    for (const char* bad : {"0", "250000", "1-2"}) {
        c.commandLog().clear();
        sender.setClearAfterEnter(true);
        sender.setLoopDelay(bad);
        sender.sendInLoopToggled(true);
        EXPECT_EQ(rig.log(), (QStringList{"Loop delay range: 1 and 200000ms", "Loop delay set to 1000ms"}))
            << bad;
        EXPECT_EQ(sender.loopDelay(), "1000");
        EXPECT_FALSE(sender.clearAfterEnter());
        sender.sendInLoopToggled(false);
        EXPECT_FALSE(sender.loopRunning());
    }

    sender.setLoopDelay("40");
    sender.sendInLoopToggled(true);
    ASSERT_TRUE(waitUntil([&] { return rig.line.receivedTexts().count("ID\r") >= 3; }));
    // "Clear" while a line is on its way (its first answer is in): the log empties and the loop does not
    // start again when the line ends.
    sender.setLine("ID+/ID+");
    bool cleared = false;
    QObject::connect(&sender, &MultiCommandSender::commandAnswered, &sender, [&] {
        if (!cleared && sender.line() == "ID+/ID+") {
            cleared = true;
            sender.clearClicked();
        }
    });
    ASSERT_TRUE(waitUntil([&] { return cleared && !sender.isSending(); }));
    EXPECT_FALSE(sender.loopRunning());
    EXPECT_EQ(rig.log(), (QStringList{"ID", "D:4110"}));
    const qsizetype sends = rig.line.receivedTexts().size();
    QTest::qWait(TimeScale::ms(400));
    EXPECT_EQ(rig.line.receivedTexts().size(), sends);

    // The page shown stops decoding streams; the page hidden ends the loop and unchecks it.
    c.link().streamMatcher().setEnabled(true);
    sender.commandsPageShown();
    EXPECT_FALSE(c.link().streamMatcher().isEnabled());
    sender.sendInLoopToggled(true);
    sender.commandsPageHidden();
    EXPECT_FALSE(sender.sendInLoop());
    EXPECT_FALSE(sender.loopRunning());

    // The line and the delay go back to "Tarvo.ini".
    sender.setLine("GS+");
    c.shutdown();
    QFile ini(rig.dir.filePath("Tarvo.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray text = ini.readAll();
    EXPECT_TRUE(text.contains("MultiCommandString=GS+")) << text.toStdString();
    EXPECT_TRUE(text.contains("LoopTime=40")) << text.toStdString();
}
