// The calibration wizard over the CAN bus, against the simulator on the virtual bus.
#include "CanRig.h"
#include "app/MainController.h"
#include "base/TimeScale.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "support/FakeOperator.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;
using Wizard = CalibrationWizard;

TEST(CanCalibration, ARefusedZeroOverTheBusDoesNotStopTheWizard) {
    CanBusRig bus;
    // A transmitter in the filter-reset list whose weight stands still: a simulated check-weigher's
    // process data runs through weighing cycles, and no gain is taken from a moving signal.
    ASSERT_TRUE(bus.start({"id=4310,fw=2.06,decimals=1,weight=12.3"}));
    ASSERT_EQ(bus.sim->control("refuse 1 0 CZ"), "ok");
    devsim::SimulatedPorts::clear();
    QTemporaryDir dir;
    QFile ini(dir.filePath("Tarvo.ini"));
    // Written by hand in lower case: the adapter's keys are read as every other setting is.
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly) && ini.write("[can]\ncanbus=1\nplugin=virtualcan\ninterface=" +
                                                            canBusInterface().toLatin1() + "\n") > 0);
    ini.close();
    // The wizard's pauses shrunk; the bridge's answers still come well inside its shrunk limits.
    TimeScale::setFactor(0.25);
    FakeOperator op;
    MainController c(op, std::make_unique<devsim::SimulatedPort>(), dir.filePath("Tarvo.ini"));
    c.start();
    c.discovery().findDeviceClicked();
    ASSERT_TRUE(c.discovery().found());
    ASSERT_EQ(c.discovery().deviceIdentity(), 4310);
    bus.frames();
    op.clear();

    c.calibrationWizard().calibrateClicked();
    c.calibrationWizard().continueClicked();
    const QStringList seen = bus.frames();
    // The zero went out and was refused; the gain, the decimal point and the store followed it.
    const qsizetype zero = seen.indexOf("601:2300230a00000000");
    const qsizetype gain = seen.indexOf("601:23002304e8030000");
    ASSERT_GE(zero, 0) << seen.join(' ').toStdString();
    EXPECT_GT(gain, zero);
    EXPECT_EQ(op.messageBoxes(), (QStringList{Wizard::kRemoveLoad, Wizard::kPlaceLoad, Wizard::kDone}))
        << op.events.join("\n").toStdString();
    EXPECT_TRUE(op.infoMessages().contains(Wizard::kDone));
    c.shutdown();
    TimeScale::setFactor(1.0);
}
