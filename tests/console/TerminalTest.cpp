// The Terminal page's core against a simulated device: what typing sends, what the display shows, and
// how the reply matcher goes back and forth between the terminal and the transactions.
#include "ConsoleRig.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

QString screen(MainController& c) {
    return Terminal::screenText(c.terminal().display());
}

} // namespace

TEST(Terminal, TypedCommandsGoToThePortAndEveryLineTheDeviceSendsIsShown) {
    ConsoleRig rig({devsim::DeviceConfig{}});
    MainController& c = *rig.controller;
    Terminal& t = c.terminal();
    // A gross stream is running when the page is entered.
    c.link().writeRaw("SG\r");
    t.terminalPageShown();
    EXPECT_TRUE(c.pageControlEnabled());
    EXPECT_TRUE(c.discovery().terminalActive());
    EXPECT_FALSE(c.link().streamMatcher().isArmed());
    EXPECT_TRUE(t.display().startsWith("\r\n Type Command: "));
    ASSERT_TRUE(waitUntil([&] { return screen(c).count("Answer: G+0000.0\n") >= 3; }));

    rig.line.clearReceived();
    t.setCommandEntry("ID");
    t.commandEntered();
    EXPECT_EQ(rig.line.receivedTexts(), QList<QByteArray>{"ID\r"});
    EXPECT_TRUE(t.commandEntry().isEmpty());
    ASSERT_TRUE(waitUntil([&] { return t.display().contains("Answer: D:4110\n\r"); }));
    EXPECT_TRUE(screen(c).contains("ID\n")) << screen(c).toStdString();

    // Keys typed into the display are shown and never sent.
    rig.line.clearReceived();
    t.displayKeyTyped("x", false);
    t.displayKeyTyped(QString(QChar(0x1b)), false);
    t.displayKeyTyped(QString(), true);
    EXPECT_TRUE(t.display().contains("x\r\n"));
    EXPECT_FALSE(t.display().contains(QChar(0x1b)));
    EXPECT_TRUE(rig.line.receivedTexts().isEmpty());

    t.clearClicked();
    EXPECT_TRUE(t.display().isEmpty() || t.display().startsWith("Answer: G"));

    // Leaving hands the matcher back to the transactions; entering again starts with the prompt.
    t.terminalPageHidden();
    EXPECT_FALSE(c.discovery().terminalActive());
    EXPECT_FALSE(c.link().replyMatcher().isActive());
    const QString shownBefore = t.display();
    QTest::qWait(30);
    EXPECT_EQ(t.display(), shownBefore); // no more lines while the page is not shown
    t.terminalPageShown();
    EXPECT_TRUE(t.display().startsWith("\r\n Type Command: "));
    t.terminalPageHidden();
}

TEST(Terminal, FindDeviceOnThePageLendsTheMatcherAndTypedCommandsAreAnsweredAfter) {
    // The device listens at 115200 while the port starts at 9600: the search has to change the rate.
    ConsoleRig rig({devsim::DeviceConfig{}}, "[Port]\nBaud=9600\nComNumber=1\n");
    MainController& c = *rig.controller;
    Terminal& t = c.terminal();
    t.terminalPageShown();
    rig.line.clearReceived();

    t.findDeviceClicked();
    EXPECT_TRUE(c.discovery().found());
    EXPECT_EQ(c.link().port().baudRate(), 115200);
    // The search's own replies never reached the display, and with the terminal open the stream is
    // left alone.
    EXPECT_EQ(t.display(), "\r\n Type Command: ");
    EXPECT_FALSE(rig.line.receivedTexts().contains("SN\r"));
    EXPECT_TRUE(c.link().terminalMode());

    // A transaction in the middle borrows the matcher and gives it back.
    EXPECT_EQ(c.queryValue("IV", "V:"), "1.00");
    EXPECT_EQ(t.display(), "\r\n Type Command: ");

    t.setCommandEntry("IV");
    t.commandEntered();
    ASSERT_TRUE(waitUntil([&] { return t.display().contains("Answer: V:1.00\n\r"); }));
    EXPECT_EQ(screen(c), "\n Type Command: IV\nAnswer: V:1.00\n");

    // Left during a search, the page does not take the matcher back when the search ends.
    rig.line.setLatencyMs(200);
    QTimer::singleShot(5, &c, [&t] { t.terminalPageHidden(); });
    t.findDeviceClicked();
    EXPECT_TRUE(c.discovery().found());
    EXPECT_FALSE(c.link().terminalMode());
    EXPECT_FALSE(c.link().replyMatcher().isActive());
}
