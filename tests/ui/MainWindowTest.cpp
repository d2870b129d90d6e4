#include "ui/MainWindow.h"
#include "app/MainController.h"
#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "ui/QtOperator.h"

#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvo;

TEST(MainWindow, ShowsItsPagesAndDisablesAbsentPortsOnBothPages) {
    devsim::SimulatedPorts::clear();
    devsim::Line com1, com3;
    com1.addDevice({});
    com3.addDevice({});
    devsim::SimulatedPorts::attach(1, &com1);
    devsim::SimulatedPorts::attach(3, &com3);
    QTemporaryDir dir;
    ui::QtOperator op;
    MainController controller(op, std::make_unique<devsim::SimulatedPort>(), dir.filePath("Tarvo.ini"));
    ComPortMap map;
    map.setPath(1, "/dev/ttyUSB0");
    controller.setComPortMap(map);
    ui::MainWindow form(controller, op);
    controller.start();

    EXPECT_EQ(form.windowTitle(), "Tarvo  ver.2.0.6");
    QStringList titles;
    for (int i = 0; i < form.pages()->count(); ++i)
        titles << form.pages()->tabText(i);
    // The four family pages are out of the page control until a device of theirs is found.
    EXPECT_EQ(titles, (QStringList{"Display", "Options", "Terminal", "Commands", "Programming"}));
    for (Page family : {Page::Mxr21, Page::Mxr23, Page::Mxr41, Page::Tcw43})
        EXPECT_EQ(form.pages()->indexOf(form.page(family)), -1);
    for (int com = 1; com <= 8; ++com) {
        const bool present = com == 1 || com == 3;
        EXPECT_EQ(form.optionsComButton(com)->isEnabled(), present) << "COM" << com;
        EXPECT_EQ(form.terminalComButton(com)->isEnabled(), present) << "COM" << com;
    }
    EXPECT_EQ(form.optionsComButton(1)->toolTip(), "/dev/ttyUSB0");
    EXPECT_EQ(form.terminalComButton(1)->toolTip(), "/dev/ttyUSB0");
    EXPECT_EQ(form.optionsComButton(2)->toolTip(), "no port");
    // Choosing COM3 on the Terminal page turns it on in the Options page too.
    form.terminalComButton(3)->click();
    EXPECT_TRUE(form.optionsComButton(3)->isChecked());
    EXPECT_EQ(controller.link().port().portNumber(), 3);

    form.close();
    EXPECT_TRUE(controller.stepLog().contains("serial port freed"));
    devsim::SimulatedPorts::clear();
}
