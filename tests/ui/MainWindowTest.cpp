#include "ui/MainWindow.h"
#include "app/MainController.h"
#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "ui/ProgramWindows.h"
#include "ui/QtOperator.h"

#include <QDeadlineTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

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

// The program's windows on one simulated device at COM1, not shown yet.
struct ProgramOnOneDevice {
    devsim::Line com1;
    QTemporaryDir dir;
    ui::QtOperator op;
    std::unique_ptr<MainController> controller;
    std::unique_ptr<ui::ProgramWindows> windows;
    ProgramOnOneDevice() {
        devsim::SimulatedPorts::clear();
        com1.addDevice({});
        devsim::SimulatedPorts::attach(1, &com1);
        controller = std::make_unique<MainController>(op, std::make_unique<devsim::SimulatedPort>(),
                                                      dir.filePath("Tarvo.ini"));
        windows = std::make_unique<ui::ProgramWindows>(*controller, op);
    }
    ~ProgramOnOneDevice() {
        windows.reset();
        controller.reset();
        devsim::SimulatedPorts::clear();
    }
};

TEST(MainWindow, IsOnScreenBeforeItOpensThePortAndMakesThePagesNotShownAtStartAndThenContactsTheDevice) {
    ProgramOnOneDevice program;
    devsim::Line& com1 = program.com1;
    ui::MainWindow& form = program.windows->mainWindow();
    com1.clearReceived();

    // Every tab is there from the start; the pages behind the later ones are not made yet.
    EXPECT_FALSE(form.allPagesBuilt());
    EXPECT_EQ(form.pages()->count(), 5);
    const QSize opened = form.size();
    // The window is sized for the pages made first, the opening page too, though its tab asked for its
    // size while it was still empty.
    QSize madeFirst;
    for (Page made : {Page::Display, Page::Terminal}) {
        QWidget* holder = form.page(made);
        const auto* scroll = holder->findChild<QScrollArea*>();
        ASSERT_TRUE(scroll && scroll->widget());
        EXPECT_GE(holder->sizeHint().height(), scroll->widget()->sizeHint().height()) << int(made);
        EXPECT_GE(holder->sizeHint().width(), scroll->widget()->sizeHint().width()) << int(made);
        madeFirst = madeFirst.expandedTo(holder->sizeHint());
    }
    ASSERT_EQ(form.page(Page::Options)->findChild<QScrollArea*>()->widget(), nullptr);

    struct ExposeProbe : QObject {
        bool exposed = false;
        bool pagesBuiltWhenExposed = true;
        bool portOpenWhenExposed = true;
        ui::MainWindow* form = nullptr;
        MainController* controller = nullptr;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (!exposed && event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
                exposed = true;
                pagesBuiltWhenExposed = form->allPagesBuilt();
                portOpenWhenExposed = controller->link().port().isOpen();
            }
            return false;
        }
    } probe;
    probe.form = &form;
    probe.controller = program.controller.get();
    form.winId();
    form.windowHandle()->installEventFilter(&probe);
    form.show();
    QDeadlineTimer deadline(10000);
    while (!form.allPagesBuilt() && !deadline.hasExpired()) {
        // The device hears nothing before every page is there to show what it answers.
        ASSERT_TRUE(com1.receivedTexts().isEmpty()) << com1.receivedTexts().first().toStdString();
        QTest::qWait(1);
    }
    ASSERT_TRUE(form.allPagesBuilt());
    EXPECT_TRUE(probe.exposed);
    EXPECT_FALSE(probe.pagesBuiltWhenExposed);
    // Nor are the ports opened: that can take a while, and the window is there first.
    EXPECT_FALSE(probe.portOpenWhenExposed);
    EXPECT_TRUE(program.controller->link().port().isOpen());
    form.windowHandle()->removeEventFilter(&probe);
    // The later pages fit the window the first ones opened: it does not jump in size. (Compared as the
    // pages ask, too, where the screen is smaller than the window would be.)
    EXPECT_EQ(form.size(), opened);
    for (Page later : kAllPages) {
        const QSize wanted = form.page(later)->sizeHint();
        EXPECT_LE(wanted.width(), madeFirst.width()) << int(later);
        EXPECT_LE(wanted.height(), madeFirst.height()) << int(later);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !com1.receivedTexts().isEmpty(); }, 5000));

    // Chosen with the mouse, a later page shows its controls.
    QTabBar* tabs = form.pages()->tabBar();
    const int programming = form.pages()->indexOf(form.page(Page::Programming));
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(programming).center());
    EXPECT_EQ(form.pages()->currentWidget(), form.page(Page::Programming));
    QTest::qWait(20);
    const QList<QPushButton*> buttons = form.page(Page::Programming)->findChildren<QPushButton*>();
    ASSERT_FALSE(buttons.isEmpty());
    EXPECT_TRUE(std::any_of(buttons.begin(), buttons.end(), [](QPushButton* b) { return b->isVisible(); }));
    form.close();
}

TEST(MainWindow, ClosedBeforeItCameOnScreenItNeverContactsTheDevice) {
    ProgramOnOneDevice program;
    devsim::Line& com1 = program.com1;
    ui::MainWindow& form = program.windows->mainWindow();
    form.show();
    form.close();
    com1.clearReceived();
    // Past the moment the window would have made its pages and searched for the device.
    QTest::qWait(700);
    EXPECT_TRUE(com1.receivedTexts().isEmpty()) << com1.receivedTexts().join(' ').toStdString();
    EXPECT_FALSE(program.controller->link().port().isOpen());
    // Nor does it make pages nobody will see.
    EXPECT_FALSE(form.allPagesBuilt());
}
