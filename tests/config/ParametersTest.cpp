// The check-weigher, dosing and loss-weigher groups against the simulated transmitter: what the device
// hears on read and write, what the fields then hold and what the operator is told.
#include "ConfigRig.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;
using Group = DosingParameters::Group;

namespace {
QList<QByteArray> commandsOf(const QList<QByteArray>& lines) {
    QList<QByteArray> commands;
    for (const QByteArray& l : lines)
        commands << (l.contains(' ') ? l.left(l.indexOf(' ')) : l);
    return commands;
}
} // namespace

TEST(CheckWeigherParameters, ReadFillsTheFieldsAndWriteSendsThemAsTyped) {
    ConfigRig rig(4113);
    rig.device->setParameter("S0", -250);
    rig.device->setParameter("TE", 1);
    rig.checkWeigher->readMxr41Clicked();
    ParameterFields& f = rig.checkWeigher->mxr41();
    EXPECT_EQ(rig.heard(),
              (QList<QByteArray>{"SD\r", "MT\r", "TT\r", "TL\r", "RW\r", "TW\r", "TI\r", "TS\r", "DT\r",
                                 "TD\r", "S0\r", "A0\r", "H0\r", "S1\r", "H1\r", "A1\r", "HT\r", "TE\r"}));
    EXPECT_EQ(f.text(f.indexOf("StartDelay")), "+00020");
    EXPECT_EQ(f.text(f.indexOf("Setpoint0")), "-00250");
    EXPECT_EQ(f.text(f.indexOf("HoldTime")), "00500");
    EXPECT_EQ(rig.checkWeigher->edge(), CheckWeigherParameters::Edge::Leading);
    EXPECT_TRUE(rig.op.events.contains("line(41xx): Reading Check-Weigher parameters...."));
    EXPECT_EQ(rig.op.lastInfoLine(Page::Mxr41), "");
    EXPECT_TRUE(rig.pageControl.isEmpty()); // a read leaves the page selector alone

    // A 4114 has no transmit delay; the edge follows the hold time; then "WP" and "SS".
    rig.identity = 4114;
    f.setText(f.indexOf("TriggerLevel"), "+00300");
    rig.checkWeigher->writeMxr41Clicked();
    const QList<QByteArray> written = rig.heard();
    EXPECT_EQ(commandsOf(written),
              (QList<QByteArray>{"SD", "MT", "TT", "TL", "RW", "TW", "TI", "TS", "DT", "S0", "H0", "A0", "S1",
                                 "H1", "A1", "HT", "TE1\r", "WP\r", "SS\r"}));
    EXPECT_EQ(written[3], "TL +00300\r");
    EXPECT_EQ(rig.device->storedParameter("TL"), 300);
    EXPECT_EQ(rig.device->storedParameter("S0"), -250);
    EXPECT_TRUE(rig.checkWeigher->saved());
    EXPECT_EQ(rig.op.lastInfoLine(Page::Mxr41), "Parameters saved successfully!");

    // A 4113 gets "TD"; a start delay of "abc" goes out as typed and ends the write there.
    rig.identity = 4113;
    f.setText(f.indexOf("StartDelay"), "abc");
    rig.op.clear();
    rig.checkWeigher->writeMxr41Clicked();
    EXPECT_EQ(rig.heard(), QList<QByteArray>{"SD abc\r"});
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{"Invalid value for StartDelay... values not saved!"});
    EXPECT_FALSE(rig.checkWeigher->saved());
    f.setText(f.indexOf("StartDelay"), "20");
    rig.checkWeigher->edgeClicked(CheckWeigherParameters::Edge::None);
    rig.checkWeigher->writeMxr41Clicked();
    const QList<QByteArray> again = commandsOf(rig.heard());
    EXPECT_TRUE(again.contains("TD"));
    // Without an edge choice the hold time is followed by the store.
    EXPECT_EQ(again.mid(again.indexOf("HT")), (QList<QByteArray>{"HT", "WP\r", "SS\r"}));
}

TEST(CheckWeigherParameters, TcwPageReadsWritesLiveAndRefreshes) {
    ConfigRig rig(4310);
    rig.device->setParameter("A2", 1);
    rig.device->setParameter("S3", -77);
    rig.checkWeigher->readTcw43Clicked();
    ParameterFields& f = rig.checkWeigher->tcw43();
    EXPECT_EQ(rig.heard().first(), "GN\r");
    // The action's start string takes its sign; the setpoints keep theirs.
    EXPECT_EQ(f.text(f.indexOf("Action2")), "00001");
    EXPECT_EQ(f.text(f.indexOf("Setpoint3")), "-00077");
    rig.checkWeigher->writeTcw43Clicked();
    const QList<QByteArray> written = rig.heard();
    EXPECT_EQ(written.first(), "SD 00020\r");
    EXPECT_EQ(written[1], "\r"); // the live transaction's own carriage return
    EXPECT_EQ(written.last(2), (QList<QByteArray>{"WP\r", "\r"}));
    EXPECT_FALSE(written.contains("SS\r"));
    EXPECT_TRUE(rig.checkWeigher->saved());
    EXPECT_EQ(rig.op.lastInfoLine(Page::Tcw43), "Check-Weigher parameters saved successfully!");
    EXPECT_EQ(rig.device->storedParameter("S3"), -77);

    rig.checkWeigher->refreshClicked();
    EXPECT_EQ(rig.checkWeigher->configurationText(), "TCW4310 FM0 FL3 UR5 TL150");
    rig.line.setFault(devsim::Line::Fault::Silent);
    rig.checkWeigher->refreshClicked();
    EXPECT_EQ(rig.checkWeigher->configurationText(), "N/A");
    EXPECT_EQ(rig.pageControl.last(), true);
}

TEST(DosingParameters, ReadWriteAndStoreOfBothGroups) {
    {
        ConfigRig rig(4114);
        rig.device->setParameter("PD9", 300);
        rig.dosing->readClicked(Group::Dosing);
        ParameterFields& d = rig.dosing->dosing();
        EXPECT_EQ(rig.heard().size(), 16);
        EXPECT_EQ(d.text(8), "+00300");
        EXPECT_EQ(rig.op.lastInfoLine(Page::Mxr41), "Dosing set-up parameters uploaded successfully!");
        EXPECT_TRUE(rig.dosing->updateTimeText().startsWith("Updatatime = "));
        EXPECT_GE(rig.dosing->updateTimeText().mid(13).toInt(), 0);

        // Refused at PD9: nothing after it, no store.
        d.setText(8, "70000");
        rig.dosing->writeClicked(Group::Dosing);
        QList<QByteArray> written = rig.heard();
        EXPECT_EQ(written.size(), 9);
        EXPECT_EQ(written.last(), "PD9 70000\r");
        EXPECT_FALSE(rig.dosing->saved());
        EXPECT_EQ(rig.op.messageBoxes().last(), "Invalid value for PD9... values not saved!");
        EXPECT_EQ(rig.op.lastInfoLine(Page::Mxr41), "Invalid value for PD9... values not saved!");
        // An empty field goes out as the command and a blank.
        d.setText(8, "");
        rig.dosing->writeClicked(Group::Dosing);
        EXPECT_EQ(rig.heard().last(), "PD9 \r");

        d.setText(8, "310");
        rig.dosing->writeClicked(Group::Dosing);
        written = rig.heard();
        EXPECT_EQ(written.last(), "SD\r");
        EXPECT_TRUE(rig.dosing->saved());
        EXPECT_EQ(rig.device->storedParameter("PD9"), 310);
    }

    // The loss weigher stores with "SL", never "SD".
    ConfigRig loss(4115);
    loss.dosing->readClicked(Group::LossWeigher);
    EXPECT_EQ(loss.heard(), (QList<QByteArray>{"PL1\r", "PL2\r", "PL3\r", "PL4\r", "PL5\r"}));
    EXPECT_EQ(loss.op.lastInfoLine(Page::Mxr41), "LossWeigher set-up parameters uploaded successfully!");
    loss.dosing->lossWeigher().setText(2, "45");
    loss.dosing->writeClicked(Group::LossWeigher);
    const QList<QByteArray> written = loss.heard();
    EXPECT_EQ(written.last(), "SL\r");
    EXPECT_FALSE(written.contains("SD\r"));
    EXPECT_EQ(loss.device->storedParameter("PL3"), 45);
    EXPECT_EQ(loss.op.lastInfoLine(Page::Mxr41), "LossWeigher set-up parameters saved successfully!");

    // Answers 1.5 s late: the first read waits 2 s and gets its value, the others give up after 0.5 s.
    loss.line.setFault(devsim::Line::Fault::Late, 1500);
    loss.dosing->readClicked(Group::LossWeigher);
    EXPECT_EQ(loss.dosing->lossWeigher().texts(),
              (QStringList{"+00001", "TimeOutErr", "TimeOutErr", "TimeOutErr", "TimeOutErr"}));
    EXPECT_EQ(loss.op.lastInfoLine(Page::Mxr41), "LossWeigher set-up parameters uploaded successfully!");
    loss.heard();

    // No answer to the first read: nothing else is asked.
    loss.line.setFault(devsim::Line::Fault::Silent);
    loss.dosing->readClicked(Group::LossWeigher);
    EXPECT_EQ(loss.heard(), QList<QByteArray>{"PL1\r"});
    EXPECT_EQ(loss.op.lastInfoLine(Page::Mxr41),
              "Device not found... Reset device and press \"Find device\"");
    EXPECT_EQ(loss.pageControl.last(), true);
}
