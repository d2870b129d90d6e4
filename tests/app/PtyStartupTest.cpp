// Start-up over the real serial-port path: QSerialPort on pseudo-terminals that the COM-number map
// names, with other COM numbers mapped to paths that do not exist.
#include "app/MainController.h"
#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/PtyLine.h"
#include "link/QtSerialPortDevice.h"
#include "support/FakeOperator.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvo;

TEST(PtyStartup, AbsentPathsAreDisabledAndTheFirstBytesComeAfterTheWindowShows) {
    TimeScale::setFactor(0.1);
    devsim::Line line1, line4;
    devsim::DeviceConfig config;
    config.baud = 115200;
    line1.addDevice(config);
    line4.addDevice(config);
    devsim::PtyLine pty1(&line1), pty4(&line4);
    QString error;
    ASSERT_TRUE(pty1.open(&error)) << error.toStdString();
    ASSERT_TRUE(pty4.open(&error)) << error.toStdString();

    QTemporaryDir dir;
    ComPortMap map;
    map.setPath(1, pty1.slavePath());
    map.setPath(2, dir.filePath("no-such-port"));
    map.setPath(4, pty4.slavePath());
    test::FakeOperator op;
    auto controller = std::make_unique<MainController>(op, std::make_unique<QtSerialPortDevice>(map),
                                                       dir.filePath("Tarvo.ini"));
    controller->start();
    for (int com = 1; com <= 8; ++com)
        EXPECT_EQ(controller->portProbed(com), com == 1 || com == 4) << "COM" << com;
    // Give a stray byte time to arrive: nothing may reach either device while the program starts.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 200)
        controller->link().waitSlice(10);
    EXPECT_TRUE(line1.receivedLog().isEmpty());
    EXPECT_TRUE(line4.receivedLog().isEmpty());
    EXPECT_TRUE(op.messageBoxes().isEmpty());

    controller->displayPageShown();
    t.restart();
    while (line1.receivedLog().isEmpty() && t.elapsed() < 2000)
        controller->link().waitSlice(10);
    ASSERT_FALSE(line1.receivedTexts().isEmpty());
    EXPECT_EQ(line1.receivedTexts().first(), "SN\r");
    EXPECT_EQ(line1.receivedLines().first().baud, 115200);
    EXPECT_TRUE(line4.receivedLog().isEmpty());

    controller->shutdown();
    EXPECT_FALSE(controller->link().port().isOpen());
    TimeScale::setFactor(1.0);
}

// A second program on the port the first one holds: it says the port is held by another program, at
// initialisation and with the no-port message (it once said only "COM1 not available" and that there
// was no COM port at all).
TEST(PtyStartup, ASecondProgramOnAHeldPortNamesTheOtherProgram) {
    devsim::Line line;
    devsim::DeviceConfig config;
    config.baud = 115200;
    line.addDevice(config);
    devsim::PtyLine pty(&line);
    QString error;
    ASSERT_TRUE(pty.open(&error)) << error.toStdString();
    QTemporaryDir dir;
    ComPortMap map;
    map.setPath(1, pty.slavePath());
    test::FakeOperator firstOp;
    MainController first(firstOp, std::make_unique<QtSerialPortDevice>(map), dir.filePath("first.ini"));
    first.start();
    ASSERT_TRUE(first.portProbed(1));

    test::FakeOperator op;
    MainController second(op, std::make_unique<QtSerialPortDevice>(map), dir.filePath("second.ini"));
    QObject::connect(&second, &MainController::closeRequested, [] {});
    second.start();
    EXPECT_FALSE(second.portProbed(1));
    second.displayPageShown();
    const QStringList boxes = op.messageBoxes();
    ASSERT_EQ(boxes.size(), 2) << boxes.join('|').toStdString();
    EXPECT_TRUE(boxes[0].startsWith("COM1 not available: in use by another program"))
        << boxes[0].toStdString();
    EXPECT_TRUE(
        boxes[1].startsWith("No COM ports available... Tarvo program will terminate!\nCOM1: in use by "
                            "another program"))
        << boxes[1].toStdString();
    second.shutdown();
    first.shutdown();
}
