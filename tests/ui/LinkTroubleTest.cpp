// The window when the line misbehaves during a recording: a device that falls silent, an adapter pulled
// out (a pseudo-terminal through the real serial port). Driven with clicks on the offscreen platform;
// what the operator is told is read as a screen reader hears it.
#include "engine/PtyLine.h"
#include "link/ComPortMap.h"
#include "link/QtSerialPortDevice.h"
#include "support/ProcessCpu.h"
#include "support/QtPrinters.h"
#include "support/WindowRig.h"

#include "base/TerminationSignals.h"
#include "measure/FullDuplexCheck.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

QString informationLine(WindowRig& rig) {
    QLabel* info = rig.named<QLabel>(Page::Display, "Display information");
    return info ? accessibleName(info) : QStringLiteral("<no information line>");
}

} // namespace

TEST(WindowLinkTrouble, ASilentDeviceIsMentionedOncePerSilenceAndTheRecordingGoesOn) {
    WindowRig rig;
    devsim::Line& line = rig.lineOn(1);
    rig.start();
    Acquisition& a = rig.controller->acquisition();
    rig.click(rig.named<QPushButton>(Page::Display, "RUN"));
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > 5; }));

    const QString notice = "no data from COM1 for 2 s";
    line.setFault(devsim::Line::Fault::Silent);
    ASSERT_TRUE(waitFor([&] { return informationLine(rig) == notice; }));
    // Said once: a longer silence adds nothing.
    QTest::qWait(TimeScale::ms(3000));
    EXPECT_EQ(rig.op.infoMessages.count(notice), 1);
    EXPECT_TRUE(a.runDown());
    EXPECT_TRUE(rig.named<QPushButton>(Page::Display, "RUN")->isChecked());

    // Data again: the information line says so at once (it once kept the silence notice while the
    // readout moved), the recording takes it, and the next silence is mentioned again.
    const int before = a.sampleIndex();
    line.setFault(devsim::Line::Fault::None);
    ASSERT_TRUE(waitFor([&] { return informationLine(rig).startsWith("data from COM1 again after "); }))
        << informationLine(rig).toStdString();
    const QRegularExpression resumed("^data from COM1 again after (\\d+\\.\\d) s$");
    const QRegularExpressionMatch said = resumed.match(informationLine(rig));
    ASSERT_TRUE(said.hasMatch()) << informationLine(rig).toStdString();
    EXPECT_GE(said.captured(1).toDouble(), 4.0); // device seconds: 2 to notice, 3 more waited
    EXPECT_EQ(rig.op.infoMessages.filter("data from COM1 again").size(), 1);
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > before + 5; }));
    line.setFault(devsim::Line::Fault::Silent);
    ASSERT_TRUE(waitFor([&] { return rig.op.infoMessages.count(notice) == 2; }));
    EXPECT_TRUE(a.runDown());

    // No word about silence while nothing records.
    line.setFault(devsim::Line::Fault::None);
    rig.click(rig.named<QPushButton>(Page::Display, "STOP"));
    ASSERT_TRUE(waitFor([&] { return !rig.controller->link().isBusy(); }));
    line.setFault(devsim::Line::Fault::Silent);
    QTest::qWait(TimeScale::ms(3000));
    EXPECT_EQ(rig.op.infoMessages.count(notice), 2);
}

// A TERM signal while RUN asks about full duplex closes the window as the close box does; the open
// question ends with it, and nothing reaches the device after the close's last command, STOP's "SG"
// (RUN once went on after the close with "ID", "\r", "BR115200" and "SN").
TEST(WindowLinkTrouble, ASignalWhileRunAsksEndsTheQuestionAndNothingIsSentAfterTheClose) {
    WindowRig rig;
    devsim::DeviceConfig halfDuplex;
    halfDuplex.fullDuplex = false;
    devsim::Line& line = rig.lineOn(1, halfDuplex);
    rig.op.realQuestions = true;
    rig.start();
    TerminationSignals terminate(143);
    QObject::connect(&terminate, &TerminationSignals::received, &rig.main(), &QWidget::close);

    // The signal comes once the question shows; a question still open after a while is answered, so
    // that a close that leaves it open fails the test instead of hanging it.
    bool asked = false;
    bool stillOpen = false;
    QTimer watch;
    QElapsedTimer since;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && !asked) {
            asked = true;
            since.start();
            ::raise(SIGTERM);
        } else if (box && since.isValid() && since.elapsed() > 5000) {
            stillOpen = true;
            box->reject();
        }
    });
    watch.start(10);
    line.clearReceived();
    rig.click(rig.named<QPushButton>(Page::Display, "RUN"));
    watch.stop();
    ASSERT_TRUE(asked);
    EXPECT_FALSE(stillOpen) << "the close left the question open";
    EXPECT_EQ(rig.op.questions, QStringList{FullDuplexCheck::kQuestion});
    EXPECT_FALSE(rig.main().isVisible());
    QTest::qWait(TimeScale::ms(1000)); // anything still on its way
    const QList<QByteArray> heard = line.receivedTexts();
    ASSERT_FALSE(heard.isEmpty());
    EXPECT_EQ(heard.first(), "DX\r");
    EXPECT_EQ(heard.last(), "SG\r") << QByteArray(heard.join('|')).toStdString();
    EXPECT_EQ(heard.count("SG\r"), 1) << QByteArray(heard.join('|')).toStdString();
}

TEST(WindowLinkTrouble, AnUnplugDuringRunStopsItKeepingTheSamplesAndFindDeviceFindsTheDeviceAgain) {
    // The real serial-port path: a pseudo-terminal at a mapped path, whose simulator side is closed as an
    // adapter is pulled out, and then opened anew at the same path as the adapter comes back.
    WindowRig rig;
    devsim::Line& line = rig.lineOn(1);
    const QString mappedPath = rig.dir.filePath("ttyTarvo0");
    QString error;
    auto adapter = std::make_unique<devsim::PtyLine>(&line);
    ASSERT_TRUE(adapter->open(&error) && adapter->makeLink(mappedPath, &error)) << error.toStdString();
    ComPortMap map;
    map.setPath(1, mappedPath);
    rig.start(std::make_unique<QtSerialPortDevice>(map));
    Acquisition& a = rig.controller->acquisition();
    auto button = [&](const char* caption) { return rig.named<QPushButton>(Page::Display, caption); };
    rig.click(button("RUN"));
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > 5; }));

    adapter.reset();
    ASSERT_TRUE(waitFor([&] { return informationLine(rig) == "COM1 not available: Input/output error"; }))
        << informationLine(rig).toStdString();
    // STOP as the operator would have pressed it, and the fault in sight.
    EXPECT_FALSE(button("RUN")->isChecked());
    EXPECT_TRUE(button("STOP")->isChecked());
    EXPECT_TRUE(button("RUN")->isEnabled());
    QLabel* lamp = rig.named<QLabel>(Page::Display, "Status lamp");
    ASSERT_NE(lamp, nullptr);
    EXPECT_EQ(accessibleDescription(lamp), "RedBlink = Error");
    // Seen as heard: red, then dark, then red again.
    auto lampCentre = [&] { return lamp->grab().toImage().pixelColor(lamp->rect().center()); };
    bool seenRed = false, seenDark = false;
    for (QDeadlineTimer blinks(1500); !blinks.hasExpired() && !(seenRed && seenDark); QTest::qWait(50))
        (lampCentre() == QColor(Qt::red) ? seenRed : seenDark) = true;
    EXPECT_TRUE(seenRed && seenDark);
    QLabel* readout = rig.named<QLabel>(Page::Display, "Readout");
    ASSERT_NE(readout, nullptr);
    EXPECT_TRUE(waitFor([&] { return accessibleName(readout) == "NO INPUT"; }))
        << accessibleName(readout).toStdString();
    // What was recorded stays.
    const GraphSlot& slot = rig.controller->recordings().slot(1);
    EXPECT_TRUE(slot.recorded);
    EXPECT_GT(slot.count, 5);
    // Nothing polls the dead line: a second of the window at rest costs little processor time.
    const double before = cpuSeconds();
    QTest::qWait(1000);
    EXPECT_LT(cpuSeconds() - before, 0.5);

    // The adapter is back at the same path: Find Device opens it again without a restart.
    adapter = std::make_unique<devsim::PtyLine>(&line);
    ASSERT_TRUE(adapter->open(&error) && adapter->makeLink(mappedPath, &error)) << error.toStdString();
    rig.click(button("Find Device"));
    ASSERT_TRUE(rig.searched());
    EXPECT_EQ(informationLine(rig), "Device found at COM1  running 115200baud");
    rig.click(button("RUN"));
    ASSERT_TRUE(waitFor([&] { return a.sampleIndex() > 5 && a.lamp() == Acquisition::Lamp::Red; }));
    EXPECT_EQ(accessibleDescription(lamp), "Red = Busy");
    EXPECT_EQ(lampCentre(), QColor(Qt::red));
    rig.click(button("STOP"));
    ASSERT_TRUE(waitFor([&] { return a.lamp() == Acquisition::Lamp::Green; }));
    EXPECT_EQ(accessibleDescription(lamp), "Green = Ready");
    EXPECT_EQ(lampCentre(), QColor(Qt::green));
}
