// The program over the CAN bus as an operator uses it: the controller with "CANbus=1", the windows, and
// tarvo-cli, each against the simulator on the virtual bus.
#include "CanRig.h"
#include "app/MainController.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "support/FakeOperator.h"
#include "support/WindowRig.h"
#include "ui/pages/TerminalPage.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {
const char* kDevice = "id=4113,fw=2.06,decimals=1,weight=12.3,update=20,pupdate=20";
} // namespace

TEST(CanProgram, FindDeviceTheLiveReadoutAndRunWorkOverTheCanBusWithoutAnySerialPort) {
    CanBusRig bus;
    ASSERT_TRUE(bus.start({kDevice}));
    devsim::SimulatedPorts::clear(); // this PC has no serial port at all
    QTemporaryDir dir;
    QFile ini(dir.filePath("Tarvo.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly) && ini.write(canBusSettings()) > 0);
    ini.close();
    FakeOperator op;
    MainController c(op, std::make_unique<devsim::SimulatedPort>(), dir.filePath("Tarvo.ini"));
    c.start();
    QTest::qWait(50);
    EXPECT_TRUE(bus.frames().isEmpty()); // nothing reaches the bus while the program starts

    // Only the serial port's own complaint at start; the program goes on over CAN.
    const QStringList boxes{"COM1 not available"};
    c.displayPageShown();
    EXPECT_EQ(op.messageBoxes(), boxes) << op.events.join('\n').toStdString();
    ASSERT_TRUE(waitUntil([&] { return c.readout().text() == "N +0012.3"; }))
        << c.readout().text().toStdString();
    EXPECT_TRUE(bus.sent("0:01")); // the process channel started

    c.discovery().findDeviceClicked();
    EXPECT_TRUE(c.discovery().found());
    EXPECT_EQ(c.discovery().deviceIdentity(), 4113);
    EXPECT_EQ(c.discovery().firmwareLabel(), "Firmware: ver.0206");
    EXPECT_TRUE(op.infoMessages().contains("Device found at CAN_ADDR_1 @ CAN_BAUD_500K"));
    EXPECT_EQ(c.ports().portBaudCaption(), "CAN_ADDR_1 @ CAN_BAUD_500K");
    EXPECT_TRUE(c.familyTabVisible(FamilyPage::Mxr41));

    // RUN on a check-weigher records its status packets, built by the bridge from process frames.
    c.acquisition().runClicked();
    ASSERT_TRUE(waitUntil([&] { return c.acquisition().sampleIndex() > 5; }));
    EXPECT_TRUE(c.readout().text().startsWith("N ")) << c.readout().text().toStdString();
    EXPECT_TRUE(bus.sent("201:0080")); // the packet stream asked for on the first channel
    c.acquisition().stopClicked();
    EXPECT_EQ(op.messageBoxes(), boxes) << op.events.join('\n').toStdString();
    c.displayPageHidden();
    EXPECT_TRUE(bus.sent("0:02"));
    c.shutdown();
}

TEST(CanProgram, TheOptionsPageChoosesTheCanLinkAndItsSpeedAndFindsTheDevice) {
    CanBusRig bus;
    ASSERT_TRUE(bus.start({kDevice}));
    WindowRig rig(QString::fromLatin1(canBusSettings()) + "[Port]\nBaud=115200\nComNumber=1\n");
    rig.lineOn(1); // a serial device too: the choice decides which one answers
    rig.start();
    rig.showPage(Page::Options);
    auto* canOptions = rig.named<QGroupBox>(Page::Options, "CANbus Options");
    ASSERT_NE(canOptions, nullptr);
    EXPECT_TRUE(canOptions->isVisible());

    // Choosing a COM port hides the CAN options; CAN-bus shows them again.
    rig.click(rig.named<QRadioButton>(Page::Options, "COM1"));
    EXPECT_FALSE(canOptions->isVisible());
    rig.click(rig.named<QRadioButton>(Page::Options, "CAN-bus"));
    EXPECT_TRUE(canOptions->isVisible());

    // Another speed shows its register value and reopens the interface at it.
    auto* speed = rig.named<QComboBox>(Page::Options, "CAN speed");
    ASSERT_NE(speed, nullptr);
    speed->setFocus();
    QTest::keyClick(speed, Qt::Key_Down);
    EXPECT_EQ(speed->currentText(), "CAN_BAUD_250K");
    EXPECT_EQ(rig.op.boxes, QStringList{"011C"});

    bus.frames();
    rig.lines.front()->clearReceived();
    rig.click(rig.named<QPushButton>(Page::Options, "Find Device"));
    ASSERT_TRUE(rig.searched());
    EXPECT_TRUE(bus.sent("601:4000290800000000")); // "ID" read from the identity object
    QLabel* info = rig.page(Page::Options)->findChild<QLabel*>("Options information");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(accessibleName(info), "Device found at CAN_ADDR_1 @ CAN_BAUD_250K");
    EXPECT_EQ(accessibleName(rig.named<QLabel>(Page::Options, "Device")), "Device: 4113");
    EXPECT_EQ(accessibleName(rig.named<QLabel>(Page::Options, "Port")), "CAN_ADDR_1 @ CAN_BAUD_250K");
    EXPECT_EQ(rig.op.boxes, QStringList{"011C"}); // no error on the way
    // The Terminal page: a typed command goes over the bus and its answer shows as a line from the device.
    rig.showPage(Page::Terminal);
    ui::TerminalPage* terminal = rig.main().terminalPage();
    ASSERT_TRUE(waitFor([&] { return rig.controller->pageControlEnabled(); }));
    bus.frames();
    QTest::keyClicks(terminal->commandEntry(), "ID");
    QTest::keyClick(terminal->commandEntry(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return terminal->display()->toPlainText().contains("Answer: D:4113\n"); }))
        << terminal->display()->toPlainText().toStdString();
    EXPECT_TRUE(bus.sent("601:4000290800000000"));
    // From the choice of the CAN bus on, the device on the serial line was never asked.
    for (const QByteArray& text : rig.lines.front()->receivedTexts())
        EXPECT_FALSE(text.startsWith("ID")) << text.toStdString();
}

TEST(CanProgram, TarvoCliSendsAndFindsOverCanWhenTheSettingsChooseIt) {
    CanBusRig bus;
    ASSERT_TRUE(bus.start({kDevice}));
    ProgramRig rig;
    ASSERT_TRUE(
        rig.writeSettings("/nonexistent/tty", "[Port]\nBaud=115200\nComNumber=1\n" + canBusSettings()));

    CliRun run = rig.cli({"send", "FL"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "F+00003\n");
    run = rig.cli({"send", "IV", "--start", "V:"});
    EXPECT_EQ(run.out, "0206\n");
    run = rig.cli({"send", "S4"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "ERR\n");

    run = rig.cli({"find"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "identity: 4113\nfirmware: 0206\nport: CAN_ADDR_1 @ CAN_BAUD_500K\n");
}
