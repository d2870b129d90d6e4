// The "Calibration" window driven as a person drives it: opened from a family page, the load typed, the
// decimal point chosen, CONTINUE or EXIT clicked; what reaches the simulated device and what the windows
// then show.
#include "support/QtPrinters.h"
#include "support/WindowRig.h"
#include "ui/widgets/ValueLabel.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;
using Wizard = CalibrationWizard;

namespace {

ui::ValueLabel* instructionOf(ui::CalibrationDialog& dialog) {
    return dialog.findChild<ui::ValueLabel*>("Instruction");
}

} // namespace

TEST(CalibrationWindow, OpensOverALockedMainWindowKeepsItsChoicesAndExitBeforeContinueSendsNothing) {
    WindowRig rig;
    devsim::Line& line = rig.startOnFamilyPage(4113, Page::Mxr41);
    ui::CalibrationDialog& dialog = rig.windows->calibrationWindow();
    EXPECT_FALSE(dialog.isVisible());
    line.clearReceived();

    rig.click(rig.named<QPushButton>(Page::Mxr41, "Calibrate MXR"));
    ASSERT_TRUE(waitFor([&] { return dialog.isVisible(); }));
    EXPECT_EQ(dialog.windowTitle(), "Calibration");
    EXPECT_FALSE(rig.main().isEnabled());
    EXPECT_EQ(accessibleName(instructionOf(dialog)), "Choose calibration load and decimalpoint...");
    EXPECT_EQ(accessibleName(dialog.findChild<ui::ValueLabel*>("Units")), "n");
    EXPECT_EQ(accessibleName(dialog.loadField()), "Load");
    EXPECT_EQ(dialog.loadField()->text(), "1000");
    EXPECT_TRUE(dialog.decimalPointOption(0)->isChecked());
    EXPECT_EQ(accessibleName(dialog.decimalPointOption(5)), ".00000");

    typeInto(dialog.loadField(), "2500");
    rig.click(dialog.decimalPointOption(3));
    rig.click(dialog.exitButton());
    ASSERT_TRUE(waitFor([&] { return !dialog.isVisible(); }));
    EXPECT_TRUE(rig.main().isEnabled());
    EXPECT_TRUE(line.receivedTexts().isEmpty());
    const QString stopped = "Calibration stopped by user... device NOT calibrated";
    EXPECT_EQ(rig.op.boxes.last(), stopped);
    EXPECT_EQ(infoLine(rig, Page::Mxr41, "MXR 41xx"), stopped);
    EXPECT_EQ(infoLine(rig, Page::Display, "Display"), stopped);

    // The load and the decimal point stay for the next opening; the close box leaves as EXIT does.
    rig.click(rig.named<QPushButton>(Page::Mxr41, "Calibrate MXR"));
    ASSERT_TRUE(waitFor([&] { return dialog.isVisible(); }));
    EXPECT_EQ(dialog.loadField()->text(), "2500");
    EXPECT_TRUE(dialog.decimalPointOption(3)->isChecked());
    dialog.close();
    ASSERT_TRUE(waitFor([&] { return !dialog.isVisible() && rig.main().isEnabled(); }));
    EXPECT_EQ(rig.op.boxes.last(), stopped);
    EXPECT_TRUE(line.receivedTexts().isEmpty());

    // Escape, typed in the load field, leaves as EXIT does too.
    const qsizetype boxes = rig.op.boxes.size();
    rig.click(rig.named<QPushButton>(Page::Mxr41, "Calibrate MXR"));
    ASSERT_TRUE(waitFor([&] { return dialog.isVisible(); }));
    QTest::keyClick(dialog.loadField(), Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return !dialog.isVisible() && rig.main().isEnabled(); }));
    EXPECT_EQ(rig.op.boxes.size(), boxes + 1);
    EXPECT_EQ(rig.op.boxes.last(), stopped);
    EXPECT_TRUE(line.receivedTexts().isEmpty());
}

TEST(CalibrationWindow, ACalibrationThroughTheWindowReachesTheDeviceAndEndsWithTheDeviceFoundAgain) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.identity = 4113;
    config.weight = 30.0;
    config.resetMs = 100;
    devsim::Line& line = rig.lineOn(1, config);
    devsim::Device* device = line.devices().first();
    rig.startAndFind();
    rig.showFamilyPage(Page::Mxr41);
    ui::CalibrationDialog& dialog = rig.windows->calibrationWindow();
    QStringList shown; // the instruction line as the operator saw it at each box
    rig.op.onBox = [&](const QString& box) {
        shown << accessibleName(instructionOf(dialog));
        if (box == Wizard::kRemoveLoad) {
            // Only the boxes take input while it runs; the instruction is not greyed with the rest.
            EXPECT_FALSE(dialog.continueButton()->isEnabled());
            EXPECT_FALSE(dialog.exitButton()->isEnabled());
            EXPECT_FALSE(dialog.loadField()->isEnabled());
            EXPECT_FALSE(dialog.decimalPointOption(0)->isEnabled());
            EXPECT_TRUE(instructionOf(dialog)->isEnabled());
            device->setWeight(1.0);
        } else if (box == Wizard::kPlaceLoad) {
            device->setWeight(101.0);
        }
    };
    rig.op.answers = {false}; // no record this time

    rig.click(rig.named<QPushButton>(Page::Mxr41, "Calibrate MXR"));
    ASSERT_TRUE(waitFor([&] { return dialog.isVisible(); }));
    typeInto(dialog.loadField(), "1000");
    rig.click(dialog.decimalPointOption(4));
    line.clearReceived();
    rig.click(dialog.continueButton());
    ASSERT_TRUE(waitFor([&] {
        return !dialog.isVisible() && rig.main().isEnabled() && rig.searched() &&
               infoLine(rig, Page::Mxr41, "MXR 41xx").startsWith("Device found");
    }));

    const QList<QByteArray> heard = line.receivedTexts();
    for (const char* command : {"FM0\r", "UR0\r", "CZ\r", "CG1000\r", "DP4\r", "CS\r", "SR\r"})
        EXPECT_TRUE(heard.contains(command)) << command;
    EXPECT_LT(heard.indexOf("CS\r"), heard.indexOf("SR\r"));
    EXPECT_EQ(shown, (QStringList{Wizard::kRemoveLoad, Wizard::kPlaceLoad, Wizard::kDone}));
    EXPECT_EQ(rig.op.boxes.mid(rig.op.boxes.size() - 3),
              (QStringList{Wizard::kRemoveLoad, Wizard::kPlaceLoad, Wizard::kDone}));
    EXPECT_EQ(infoLine(rig, Page::Mxr41, "MXR 41xx"), "Device found at COM1  running 115200baud");
    EXPECT_EQ(device->storedParameter("DP"), 4);
    EXPECT_EQ(device->storedParameter("AG"), 10000); // 1000 counts on for a load of 1000
    EXPECT_EQ(device->storedParameter("AZ"), 10);
}
