// The Terminal and Commands pages and the "Change value" window driven as a person drives them: typing,
// clicks and right clicks on the offscreen platform, against a simulated device.
#include "support/QtPrinters.h"
#include "support/WindowRig.h"
#include "ui/ChangeValueDialog.h"
#include "ui/MultiCommandPanel.h"
#include "ui/pages/CommandsPage.h"
#include "ui/pages/TerminalPage.h"
#include "ui/widgets/CommandButtonWidget.h"
#include "ui/widgets/ValueLabel.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

QStringList logLines(QListWidget* log) {
    QStringList lines;
    for (int i = 0; i < log->count(); ++i)
        lines << log->item(i)->text();
    return lines;
}

// Types into the "Change value" window once it is up, then presses Enter (or clicks Cancel).
void answerChangeValue(ui::ChangeValueDialog& dialog, const QString& typed, bool cancel = false) {
    auto* timer = new QTimer(&dialog);
    QObject::connect(timer, &QTimer::timeout, &dialog, [&dialog, typed, cancel, timer] {
        if (!dialog.isVisible())
            return;
        timer->deleteLater();
        QTest::keyClicks(dialog.valueField(), typed);
        if (cancel) {
            for (QPushButton* b : dialog.findChildren<QPushButton*>())
                if (b->accessibleName() == "Cancel")
                    QTest::mouseClick(b, Qt::LeftButton);
        } else {
            QTest::keyClick(dialog.valueField(), Qt::Key_Return);
        }
    });
    timer->start(5);
}

} // namespace

TEST(WindowTerminal, TypedCommandsAreAnsweredTheStreamShowsAndFindDeviceKeepsTheTerminal) {
    WindowRig rig;
    devsim::Line& line = rig.lineOn(1);
    rig.start(); // the Display page started the value stream
    rig.showPage(Page::Terminal);
    ui::TerminalPage* page = rig.main().terminalPage();
    QPlainTextEdit* display = page->display();
    QLineEdit* entry = page->commandEntry();
    ASSERT_TRUE(waitFor([&] { return rig.controller->pageControlEnabled(); }));
    EXPECT_EQ(accessibleName(display), "Terminal");
    EXPECT_EQ(accessibleName(entry), "Command");
    EXPECT_TRUE(entry->hasFocus());
    EXPECT_TRUE(display->toPlainText().startsWith("\n Type Command: "));
    // The running stream shows as "Answer: " lines.
    ASSERT_TRUE(waitFor([&] { return display->toPlainText().count("Answer: G+0000.0\n") >= 3; }));

    line.clearReceived();
    QTest::keyClicks(entry, "ID");
    QTest::keyClick(entry, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return display->toPlainText().contains("Answer: D:4110\n"); }));
    EXPECT_EQ(line.receivedTexts(), QList<QByteArray>{"ID\r"});
    EXPECT_TRUE(entry->text().isEmpty());
    EXPECT_TRUE(display->toPlainText().contains("ID\n"));

    // Typed into the display itself: shown, never sent.
    line.clearReceived();
    QTest::keyClicks(display, "xyz");
    EXPECT_TRUE(display->toPlainText().contains("xyz"));
    EXPECT_TRUE(line.receivedTexts().isEmpty());

    rig.click(rig.named<QPushButton>(Page::Terminal, "Clear Terminal"));
    EXPECT_FALSE(display->toPlainText().contains("xyz"));

    rig.click(rig.named<QPushButton>(Page::Terminal, "Find Device"));
    ASSERT_TRUE(rig.searched());
    EXPECT_EQ(infoLine(rig, Page::Terminal, "Terminal"), "Device found at COM1  running 115200baud");
    QTest::keyClicks(entry, "IV");
    QTest::keyClick(entry, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return display->toPlainText().contains("Answer: V:1.00\n"); }));

    // Leaving the page gives the replies back to the transactions.
    rig.showPage(Page::Options);
    EXPECT_FALSE(rig.controller->link().terminalMode());
}

TEST(WindowCommands, ShowCmdBuildsTheButtonsAndPressesReadAndWriteThroughTheChangeValueWindow) {
    WindowRig rig;
    devsim::DeviceConfig streaming; // from power-on: no weight line may pass for a command's answer
    streaming.autotransmit = "SN";
    streaming.updateMs = 20;
    devsim::Line& line = rig.lineOn(1, streaming);
    QFile commands(rig.dir.filePath("Tarvocommand.ini"));
    ASSERT_TRUE(commands.open(QIODevice::WriteOnly));
    commands.write("[CMD1]\nCMD=TL\nAnswer=T\nRead=1\nWrite=1\nMax=99999\nMin=0\nUnit=counts\nText=Trig\n"
                   "Description=Trigger level\nColor=clYellow\nTimeout=500\n"
                   // Its answer may be late on a loaded machine: the default of 100 ms would
                   // then rightly give a time-out instead.
                   "[CMD2]\nCMD=ID\nAnswer=D:\nRead=1\nText=Identity\nDescription=Get ID\nTimeout=2000\n");
    commands.close();
    rig.start();
    rig.showPage(Page::Commands);
    ui::CommandsPage* page = rig.main().commandsPage();

    rig.click(rig.named<QPushButton>(Page::Commands, "Show CMD"));
    ASSERT_TRUE(waitFor(
        [&] { return !rig.controller->commandPanel().isScanning() && page->commandButtons().size() == 2; }));
    ASSERT_TRUE(rig.searched());
    EXPECT_EQ(infoLine(rig, Page::Commands, "Commands"), "Device found at COM1  running 115200baud");
    ui::CommandButtonWidget* tl = page->commandButtons()[0];
    ui::CommandButtonWidget* id = page->commandButtons()[1];
    EXPECT_EQ(tl->size(), QSize(100, 45));
    EXPECT_EQ(id->pos() - tl->pos(), QPoint(100, 0));
    EXPECT_EQ(accessibleName(tl), "TL");
    EXPECT_EQ(tl->toolTip(), "Trigger level\n(Right-click to set value)");
    QStringList labels;
    for (QLabel* l : tl->findChildren<QLabel*>())
        labels << l->text();
    EXPECT_EQ(labels, (QStringList{"TL", "Trig", "+00150"}));
    EXPECT_EQ(accessibleName(tl->valueLabel()), "+00150");
    EXPECT_EQ(tl->palette().color(QPalette::Button), QColor(0xFF, 0xFF, 0x00));

    // The pointer over a button shows what it is.
    QTest::mouseMove(tl, QPoint(50, 20));
    QTest::mouseMove(tl, QPoint(52, 22));
    EXPECT_EQ(accessibleName(rig.named<QLabel>(Page::Commands, "Description")), "Trigger level");
    EXPECT_EQ(accessibleName(rig.named<QLabel>(Page::Commands, "Max")), "Max: 99999");
    EXPECT_EQ(accessibleName(rig.named<QLabel>(Page::Commands, "Unit")), "Unit: counts");

    // A right click opens "Change value"; Enter writes the value, which is read back and shown.
    ui::ChangeValueDialog& window = rig.windows->changeValueWindow();
    line.clearReceived();
    answerChangeValue(window, "250");
    QTest::mouseClick(tl, Qt::RightButton);
    EXPECT_EQ(window.windowTitle(), "Change value");
    EXPECT_EQ(line.receivedTexts(), (QList<QByteArray>{"TL 250\r", "TL\r"}));
    EXPECT_EQ(accessibleName(tl->valueLabel()), "+00250");
    EXPECT_EQ(accessibleName(rig.named<QLabel>(Page::Commands, "Value")), "Value: +00250");
    QStringList shown;
    for (QLabel* l : window.findChildren<QLabel*>())
        shown << l->text();
    EXPECT_EQ(shown, (QStringList{"Trig", "Range: 0 to 99999", "Units: counts"}));

    // Out of range: the message, and nothing sent; Cancel: nothing at all.
    line.clearReceived();
    answerChangeValue(window, "-5");
    QTest::mouseClick(tl, Qt::RightButton);
    answerChangeValue(window, "77", true);
    QTest::mouseClick(tl, Qt::RightButton);
    EXPECT_TRUE(line.receivedTexts().isEmpty());
    EXPECT_EQ(rig.op.boxes, QStringList{"-5 is not in range 0 to 99999"});

    // A left press asks the device and shows its answer; the log holds both.
    QTest::mouseClick(id, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return line.receivedTexts() == QList<QByteArray>{"ID\r"}; }));
    QListWidget* log = page->multiCommandPanel()->log();
    ASSERT_TRUE(waitFor([&] { return logLines(log).endsWith("D:4110"); }))
        << logLines(log).join(" | ").toStdString();
    EXPECT_EQ(logLines(log).mid(logLines(log).size() - 2), (QStringList{"ID", "D:4110"}));
    EXPECT_EQ(accessibleName(id->valueLabel()), "4110");
}

TEST(WindowCommands, TheMultiCommandLineSendsLoopsChecksItsDelayAndClears) {
    WindowRig rig;
    devsim::DeviceConfig streaming; // from power-on, as a transmitter with autotransmit on
    streaming.autotransmit = "SN";
    streaming.updateMs = 20;
    devsim::Line& line = rig.lineOn(1, streaming);
    rig.start();
    rig.showPage(Page::Commands);
    EXPECT_FALSE(rig.controller->link().streamMatcher().isEnabled());
    ui::MultiCommandPanel* panel = rig.main().commandsPage()->multiCommandPanel();
    QListWidget* log = panel->log();
    EXPECT_EQ(logLines(log), MultiCommandSender::helpText());
    QLineEdit* entry = rig.named<QLineEdit>(Page::Commands, "Command line");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->toolTip(), "(+ )= CarrigeReturn   ( /)= 500ms pause   (Example: ID+//GS+)");

    line.clearReceived();
    QTest::keyClicks(entry, "ID+IV");
    rig.click(rig.named<QPushButton>(Page::Commands, "ENTER"));
    ASSERT_TRUE(waitFor([&] { return logLines(log).endsWith("V:1.00"); }));
    EXPECT_EQ(line.receivedTexts(), (QList<QByteArray>{"ID\r", "IV\r"}));
    EXPECT_EQ(entry->text(), "ID+IV+");

    // A delay out of range is replaced, with two log lines.
    QLineEdit* delay = rig.named<QLineEdit>(Page::Commands, "Loop delay (ms)");
    delay->clear();
    QTest::keyClicks(delay, "0");
    rig.click(rig.named<QCheckBox>(Page::Commands, "Clear after ENTER"));
    rig.click(rig.named<QCheckBox>(Page::Commands, "Send in loop"));
    EXPECT_EQ(logLines(log).mid(logLines(log).size() - 2),
              (QStringList{"Loop delay range: 1 and 200000ms", "Loop delay set to 1000ms"}));
    EXPECT_EQ(delay->text(), "1000");
    EXPECT_FALSE(rig.named<QCheckBox>(Page::Commands, "Clear after ENTER")->isChecked());
    ASSERT_TRUE(waitFor([&] { return line.receivedTexts().size() >= 4; }));

    // "Clear" stops the loop and empties the log (a line on its way still logs its rest); leaving the page
    // unchecks "Send in loop".
    rig.click(rig.named<QPushButton>(Page::Commands, "Clear"));
    ASSERT_TRUE(waitFor([&] { return !rig.controller->multiCommandSender().isSending(); }));
    EXPECT_LE(log->count(), 3);
    EXPECT_FALSE(rig.controller->multiCommandSender().loopRunning());
    rig.showPage(Page::Options);
    EXPECT_FALSE(rig.named<QCheckBox>(Page::Commands, "Send in loop")->isChecked());
    rig.main().close();
    EXPECT_TRUE(rig.settingsText().contains("MultiCommandString=ID+IV+"));
    EXPECT_TRUE(rig.settingsText().contains("LoopTime=1000"));
}
