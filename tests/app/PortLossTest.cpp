// An adapter that goes away during a recording, over the real serial-port path: QSerialPort on a
// pseudo-terminal whose simulator side is closed, then a new one at the same mapped path.
#include "app/MainController.h"
#include "base/TimeScale.h"
#include "console/Terminal.h"
#include "measure/DisplayStream.h"
#include "support/FakeOperator.h"
#include "support/ProcessCpu.h"
#include "support/PtyControllerRig.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

// Runs the program's event loop until done or the real-time limit.
bool pumpUntil(MainController& c, const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs)
            return false;
        c.link().waitSlice(10);
    }
    return true;
}

} // namespace

TEST(PtyPortLoss, AClosedLineEndsTheRecordingAtOnceAndANewOneAtTheSamePathIsFoundAgain) {
    TimeScale::setFactor(0.1);
    devsim::DeviceConfig config;
    config.baud = 115200;
    config.updateMs = 20;
    PtyControllerRig rig(config);
    ASSERT_TRUE(rig.start());
    MainController& c = *rig.controller;
    const FakeOperator& op = rig.op;
    c.displayPageShown();
    c.discovery().findDeviceClicked();
    ASSERT_TRUE(c.discovery().found());
    Acquisition& a = c.acquisition();
    a.runClicked();
    ASSERT_TRUE(a.runDown());
    ASSERT_TRUE(pumpUntil(c, [&] { return a.sampleIndex() > 5; }));

    rig.pull();
    ASSERT_TRUE(pumpUntil(
        c, [&] { return !a.runDown(); }, 2000))
        << "RUN still down after the line closed";
    EXPECT_TRUE(op.infoMessages().contains("COM1 not available: Input/output error"))
        << op.events.join('\n').toStdString();
    EXPECT_FALSE(c.link().port().isOpen());
    EXPECT_TRUE(a.stopDown());
    EXPECT_EQ(a.lamp(), Acquisition::Lamp::RedBlink);
    EXPECT_EQ(c.readout().text(), "NO INPUT");
    EXPECT_GT(c.recordings().slot(1).count, 5);
    // Nothing keeps polling the dead line: a second of the event loop costs next to no processor time.
    const double before = cpuSeconds();
    pumpUntil(
        c, [] { return false; }, 1000);
    EXPECT_LT(cpuSeconds() - before, 0.5);

    // The adapter is back at the same path: Find Device opens it again without a restart.
    ASSERT_TRUE(rig.plug());
    c.discovery().findDeviceClicked();
    EXPECT_TRUE(c.discovery().found());
    EXPECT_TRUE(c.link().port().isOpen());
    a.runClicked();
    EXPECT_TRUE(pumpUntil(c, [&] { return a.sampleIndex() > 5; }));
    a.stopClicked();
    c.shutdown();
    TimeScale::setFactor(1.0);
}

// "Show CMD" and "Setup MXR" reset the device and pause 8 s for it to restart; "Show CMD" first asks the
// device for every readable command. An adapter pulled out meanwhile ends them at once and leaves the
// message that says why: the scan once went on through every command, and the pause ran its full 8 s,
// before "Device: not found!" buried the message.
TEST(PtyPortLoss, AnAdapterPulledDuringAScanOrAResetPauseEndsItAtOnceAndItsMessageStays) {
    struct Case {
        const char* what;
        QByteArray pulledAt;
        int afterMs;
    };
    for (const Case& k : {Case{"Show CMD's scan", "GG\r", 0}, Case{"Show CMD's reset pause", "SR\r", 300},
                          Case{"Setup MXR's reset pause", "SR\r", 300}}) {
        devsim::DeviceConfig config;
        config.baud = 115200;
        PtyControllerRig rig(config);
        ASSERT_TRUE(rig.start());
        MainController& c = *rig.controller;
        QElapsedTimer sinceHeard, sincePull;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!sinceHeard.isValid() && rig.line.receivedTexts().contains(k.pulledAt))
                sinceHeard.start();
            if (rig.pty && sinceHeard.isValid() && sinceHeard.elapsed() >= k.afterMs) {
                rig.pull();
                sincePull.start();
            }
        });
        watch.start(5);
        if (QByteArray(k.what).startsWith("Show CMD")) {
            c.commandPanel().showCmdClicked();
        } else {
            rig.op.answers = {true};
            c.deviceSetup().setupClicked();
        }
        watch.stop();
        ASSERT_TRUE(sincePull.isValid()) << k.what;
        EXPECT_LT(sincePull.elapsed(), 2000) << k.what;
        EXPECT_EQ(rig.op.infoMessages().last(), "COM1 not available: Input/output error")
            << k.what << "\n"
            << rig.op.events.join('\n').toStdString();
        EXPECT_LE(c.commandLog().lines().count("TimeOutErr"), 2) << k.what;
        EXPECT_FALSE(c.commandPanel().isBusy());
        EXPECT_TRUE(c.pageControlEnabled());
        c.shutdown();
    }
}

// "Send in loop" with the adapter pulled out: the loop ends and says why once, instead of sending into the
// closed port every loop delay and logging a time-out each time for as long as the box stays ticked.
TEST(PtyPortLoss, AnAdapterPulledDuringTheCommandLoopEndsTheLoop) {
    devsim::DeviceConfig config;
    config.baud = 115200;
    PtyControllerRig rig(config);
    ASSERT_TRUE(rig.start());
    MainController& c = *rig.controller;
    MultiCommandSender& sender = c.multiCommandSender();
    sender.setLine(QStringLiteral("IV+/IV+"));
    sender.setLoopDelay(QStringLiteral("20"));
    sender.sendInLoopToggled(true);
    ASSERT_TRUE(pumpUntil(c, [&] { return rig.line.receivedTexts().count("IV\r") >= 3; }));
    rig.pull();
    ASSERT_TRUE(pumpUntil(
        c, [&] { return !sender.sendInLoop() && !sender.isSending(); }, 2000))
        << "still looping after the line closed";
    pumpUntil(
        c, [] { return false; }, 300);
    EXPECT_FALSE(sender.loopRunning());
    EXPECT_LE(c.commandLog().lines().count("TimeOutErr"), 1);
    EXPECT_EQ(rig.op.infoMessages().last(), "COM1 not available: Input/output error");
    c.shutdown();
}

// "Get Image" waits up to 10 s for the image's end record. An adapter pulled out meanwhile ends the
// capture at once, says so and writes nothing: it once waited the 10 s and then blamed the device for
// sending no end record.
TEST(PtyPortLoss, AnAdapterPulledDuringGetImageEndsTheCaptureAtOnceAndSaysWhy) {
    devsim::DeviceConfig config;
    config.baud = 115200;
    PtyControllerRig rig(config);
    ASSERT_TRUE(rig.start());
    MainController& c = *rig.controller;
    rig.line.devices().first()->setEndlessImage(true); // records, and never the end record
    const QString path = rig.dir.filePath("device.qmi");
    rig.op.fileNames = {path};
    SettingsImageTransfer& images = c.settingsImages();
    images.getImageClicked();
    ASSERT_TRUE(images.capturing());
    ASSERT_TRUE(pumpUntil(c, [&] { return rig.line.receivedTexts().contains("GI\r"); }));
    pumpUntil(
        c, [] { return false; }, 200);
    rig.pull();
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(pumpUntil(
        c, [&] { return !images.capturing(); }, 5000));
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(rig.op.messageBoxes().last(),
              "Get Image: COM1 not available: Input/output error; " + path + " was not written.");
    EXPECT_FALSE(QFile::exists(path));
    c.shutdown();
}

// The calibration waits up to 11 s for a still signal before the zero and the gain. An adapter pulled out
// meanwhile ends the wizard at once and says why: it once asked into the closed port for the whole wait
// and then blamed the signal ("NO MOTION NOT ACHIEVED ... a slower filter").
TEST(PtyPortLoss, AnAdapterPulledDuringTheCalibrationsNoMotionWaitEndsTheWizardAtOnceAndSaysWhy) {
    devsim::DeviceConfig config;
    config.identity = 4113;
    config.baud = 115200;
    PtyControllerRig rig(config);
    ASSERT_TRUE(rig.start());
    MainController& c = *rig.controller;
    CalibrationWizard& wizard = c.calibrationWizard();
    QElapsedTimer sincePull;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        // The code that opens the device for the zero has been sent: the wizard waits for a still signal.
        const QList<QByteArray> heard = rig.line.receivedTexts();
        if (std::any_of(heard.begin(), heard.end(),
                        [](const QByteArray& l) { return l.startsWith("CE") && l != "CE\r"; })) {
            QTimer::singleShot(300, [&] {
                rig.pull();
                sincePull.start();
            });
            watch.stop();
        }
    });
    watch.start(5);
    wizard.calibrateClicked();
    wizard.continueClicked();
    watch.stop();
    ASSERT_TRUE(sincePull.isValid()) << rig.op.events.join('\n').toStdString();
    EXPECT_LT(sincePull.elapsed(), 2000);
    EXPECT_EQ(wizard.state(), CalibrationWizard::State::Closed);
    const QString why = "COM1 not available: Input/output error - Device not calibrated - ERROR!";
    EXPECT_EQ(wizard.instruction(), why);
    EXPECT_EQ(rig.op.infoMessages().last(), why);
    EXPECT_EQ(rig.op.messageBoxes().last(), why);
    EXPECT_FALSE(rig.line.receivedTexts().contains("CZ\r"));
    EXPECT_TRUE(c.pageControlEnabled());
    c.shutdown();
}

// The Terminal page clears the information line as it is entered, so a command typed after the adapter
// was pulled out went nowhere without a word; it now says the port is gone.
TEST(PtyPortLoss, ACommandTypedIntoTheTerminalAfterThePullSaysThePortIsGone) {
    devsim::DeviceConfig config;
    config.baud = 115200;
    PtyControllerRig rig(config);
    ASSERT_TRUE(rig.start());
    MainController& c = *rig.controller;
    rig.pull();
    ASSERT_TRUE(pumpUntil(
        c, [&] { return !c.link().port().isOpen(); }, 2000));
    Terminal& t = c.terminal();
    t.terminalPageShown();
    EXPECT_EQ(rig.op.infoMessages().last(), "");
    t.setCommandEntry("ID");
    t.commandEntered();
    EXPECT_EQ(rig.op.infoMessages().last(), "COM1 not available");
    EXPECT_TRUE(Terminal::screenText(t.display()).endsWith("ID\n"));

    // Nor is the device taken to be set up wrongly: "Start autotransmit" asks no full-duplex question.
    t.terminalPageHidden();
    rig.op.clear();
    c.displayStream().startAutotransmitClicked();
    EXPECT_TRUE(rig.op.events.filter("ask: ").isEmpty()) << rig.op.events.join('\n').toStdString();
    EXPECT_EQ(rig.op.infoMessages().last(), "COM1 not available");
    c.shutdown();
}
