// The Commands page's top row: "Show CMD" at its full height, and labels that describe the buttons shown.
#include "support/QtPrinters.h"
#include "support/WindowRig.h"
#include "ui/pages/CommandsPage.h"
#include "ui/widgets/CommandButtonWidget.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

bool writeCommands(WindowRig& rig, const QByteArray& text) {
    QFile commands(rig.dir.filePath("Tarvocommand.ini"));
    return commands.open(QIODevice::WriteOnly) && commands.write(text) == text.size();
}

QString label(WindowRig& rig, const QString& name) {
    QLabel* l = rig.named<QLabel>(Page::Commands, name);
    return l ? accessibleName(l) : QStringLiteral("<no %1 label>").arg(name);
}

} // namespace

TEST(WindowCommandsPage, ShowCmdKeepsItsHeightAndANewSetClearsTheLabelsOfTheOld) {
    WindowRig rig;
    devsim::DeviceConfig streaming; // from power-on, as a transmitter with autotransmit on
    streaming.autotransmit = "SN";
    streaming.updateMs = 20;
    rig.lineOn(1, streaming);
    ASSERT_TRUE(writeCommands(rig,
                              "[CMD1]\nCMD=TL\nAnswer=T\nRead=1\nWrite=1\nMax=99999\nMin=0\nUnit=counts\n"
                              "Text=Trig\nDescription=Trigger level\n"));
    rig.start();
    rig.showPage(Page::Commands);
    ui::CommandsPage* page = rig.main().commandsPage();
    auto* showCmd = rig.named<QPushButton>(Page::Commands, "Show CMD");
    ASSERT_NE(showCmd, nullptr);
    EXPECT_GE(showCmd->height(), showCmd->sizeHint().height());
    EXPECT_GE(showCmd->height(), showCmd->fontMetrics().height() + 6);

    rig.click(showCmd);
    ASSERT_TRUE(waitFor(
        [&] { return !rig.controller->commandPanel().isScanning() && page->commandButtons().size() == 1; }));
    ui::CommandButtonWidget* tl = page->commandButtons()[0];
    QTest::mouseMove(tl, QPoint(50, 20));
    QTest::mouseMove(tl, QPoint(52, 22));
    ASSERT_EQ(label(rig, "Description"), "Trigger level");
    ASSERT_EQ(label(rig, "Max"), "Max: 99999");

    // Another set of buttons, the pointer away from them: the labels no longer speak of "TL".
    QTest::mouseMove(showCmd);
    ASSERT_TRUE(writeCommands(rig, "[CMD1]\nCMD=ID\nAnswer=D:\nRead=1\nText=Identity\nDescription=Get ID\n"));
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(showCmd);
    ASSERT_NE(button, nullptr);
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(waitFor([&] {
        return !rig.controller->commandPanel().isScanning() && page->commandButtons().size() == 1 &&
               page->commandButtons()[0]->accessibleName() == "ID";
    }));
    EXPECT_EQ(label(rig, "Description"), "");
    EXPECT_EQ(label(rig, "Max"), "Max: ");
    EXPECT_EQ(label(rig, "Min"), "Min: ");
    EXPECT_EQ(label(rig, "Unit"), "Unit: ");
    EXPECT_EQ(label(rig, "Value"), "Value: ");
    EXPECT_GE(showCmd->height(), showCmd->sizeHint().height());

    // Reached with the keyboard instead of the mouse, a button is described as well.
    rig.main().activateWindow();
    page->commandButtons()[0]->setFocus(Qt::TabFocusReason);
    QTest::qWait(20);
    ASSERT_TRUE(page->commandButtons()[0]->hasFocus());
    EXPECT_EQ(label(rig, "Description"), "Get ID");
}
