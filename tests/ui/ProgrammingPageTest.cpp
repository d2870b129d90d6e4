// The Programming page driven as a person drives it: load a firmware file, tick the test fixture, upgrade,
// then take the device's settings image and put it back.
#include "firmware/FirmwareFiles.h"
#include "support/WindowRig.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

// A device on COM1 in the test fixture's boot mode, four records of firmware at base loaded on the
// Programming page, the fixture ticked, and the kernel chosen when the upgrade asks for it.
devsim::Device* readyToUpgrade(WindowRig& rig, int base, int kernelStep) {
    devsim::DeviceConfig config;
    config.baud = 115200;
    devsim::Device* device = rig.lineOn(1, config).devices().first();
    QByteArray kernel(1024, '\0');
    for (int i = 0; i < kernel.size(); ++i)
        kernel[i] = char(i * kernelStep);
    const QString kernelPath = rig.dir.filePath("Prog41.a20");
    const QString firmwarePath = rig.dir.filePath("new.s19");
    EXPECT_TRUE(writeFile(kernelPath, sRecords(kernel, 0xF780)));
    EXPECT_TRUE(writeFile(firmwarePath, sRecords(sampleBinary(4 * 128), base)));
    rig.start();
    rig.showPage(Page::Programming);
    rig.op.openNames << firmwarePath;
    rig.click(rig.named<QPushButton>(Page::Programming, "Load Firmware (*.qmf)"));
    rig.click(rig.named<QCheckBox>(Page::Programming, "MXR Testfixture"));
    device->setBootMode(true);
    rig.op.openNames << kernelPath;
    return device;
}

} // namespace

TEST(ProgrammingPage, UpgradeWithTheFixtureThenGetAndPutTheSettingsImage) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.baud = 115200;
    devsim::Line& line = rig.lineOn(1, config);
    devsim::Device* device = line.devices().first();
    QByteArray kernel(1024, '\0');
    for (int i = 0; i < kernel.size(); ++i)
        kernel[i] = char(i & 0xFF);
    const QString kernelPath = rig.dir.filePath("Prog41.a20");
    const QString firmwarePath = rig.dir.filePath("new.s19");
    const QByteArray code = sampleBinary(128);
    ASSERT_TRUE(writeFile(kernelPath, sRecords(kernel, 0xF780)));
    ASSERT_TRUE(writeFile(firmwarePath, sRecords(code, 0x0100)));
    rig.start();
    rig.showPage(Page::Programming);
    QLabel* info = rig.named<QLabel>(Page::Programming, "Programming information");
    ASSERT_NE(info, nullptr);

    rig.op.openNames << firmwarePath;
    rig.click(rig.named<QPushButton>(Page::Programming, "Load Firmware (*.qmf)"));
    EXPECT_TRUE(rig.named<QPlainTextEdit>(Page::Programming, "Firmware file")
                    ->toPlainText()
                    .contains("Addresses: 0100 to 0180"));

    rig.click(rig.named<QCheckBox>(Page::Programming, "MXR Testfixture"));
    EXPECT_TRUE(rig.controller->firmwareUpgrade().testFixture());
    device->setBootMode(true); // the fixture's switch
    // Tarvo.ini names no kernel yet: the home folder holds none, so the kernel is chosen and kept.
    rig.op.openNames << kernelPath;
    QPushButton* upgrade = rig.named<QPushButton>(Page::Programming, "Upgrade Firmware");
    rig.click(upgrade);
    ASSERT_TRUE(waitFor(
        [&] { return !rig.controller->firmwareUpgrade().isRunning() && upgrade->isEnabled(); }, 30000));
    EXPECT_EQ(accessibleName(info), "Programing Done.... and defaults loaded!");
    EXPECT_EQ(rig.op.questions, QStringList{"Do you want to download firmware: 16843009"});
    EXPECT_TRUE(rig.op.boxes.isEmpty());
    auto* bar = rig.named<QProgressBar>(Page::Programming, "Programming progress");
    EXPECT_EQ(bar->maximum(), 1); // records: the one the firmware fills
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(device->bootMonitor().flash().sliced(0x0100, 128).toByteArray(), code);
    EXPECT_TRUE(rig.settingsText().contains("[Programing]\nProg41FilePath=" + kernelPath + "\n"));
    EXPECT_TRUE(rig.settingsText().contains("ComNumber=1"));
    EXPECT_TRUE(rig.controller->pageControlEnabled());

    // The device's image into a file.
    const qint64 capacity = device->parameter("CM");
    const QString imagePath = rig.dir.filePath("device.qmi");
    rig.op.saveNames << imagePath;
    rig.click(rig.named<QPushButton>(Page::Programming, "Get Image"));
    ASSERT_TRUE(waitFor([&] { return accessibleName(info) == "Hexfile saved successfully!"; }));
    EXPECT_TRUE(contents(imagePath).endsWith(":00000001FF\r\n"));

    // Changed on the device, then put back; the address range chosen with the keyboard.
    device->setParameter("CM", 12);
    auto* from = rig.named<QComboBox>(Page::Programming, "From address");
    from->setFocus();
    QTest::keyClick(from, Qt::Key_Down); // "00"
    EXPECT_EQ(rig.controller->settingsImages().fromAddress(), "00");
    QTest::keyClick(from, Qt::Key_Up); // "None" again: the connected device alone
    EXPECT_EQ(rig.controller->settingsImages().fromAddress(), "None");
    rig.op.openNames << imagePath;
    line.clearReceived();
    rig.click(rig.named<QPushButton>(Page::Programming, "Put Image"));
    auto* log = rig.named<QListWidget>(Page::Programming, "Put image log");
    ASSERT_TRUE(waitFor([&] { return log->count() == 1 && !rig.controller->settingsImages().isBusy(); }));
    EXPECT_EQ(log->item(0)->text(), "Adr:0 Done");
    EXPECT_EQ(accessibleName(info), "Adr:0 OK -");
    EXPECT_EQ(device->parameter("CM"), capacity);
    EXPECT_EQ(line.receivedTexts().first(), "PI\r");
    EXPECT_EQ(rig.named<QProgressBar>(Page::Programming, "Image progress")->value(), 0);
}

TEST(ProgrammingPage, AFileThatCannotBeProgrammedIsRefusedAndNothingReachesTheDevice) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.baud = 115200;
    devsim::Line& line = rig.lineOn(1, config);
    devsim::Device* device = line.devices().first();
    const QString highPath = rig.dir.filePath("high.hex");
    ASSERT_TRUE(writeFile(highPath, ":02C0000011220B\n:00000001FF\n"));
    rig.start();
    rig.showPage(Page::Programming);

    rig.op.openNames << highPath;
    rig.click(rig.named<QPushButton>(Page::Programming, "Load Firmware (*.qmf)"));
    EXPECT_TRUE(
        rig.named<QPlainTextEdit>(Page::Programming, "Firmware file")
            ->toPlainText()
            .contains("Status: data outside the programmable addresses 0000 to 7FFF at line 1, byte 0"));
    rig.click(rig.named<QCheckBox>(Page::Programming, "MXR Testfixture"));
    device->setBootMode(true);
    line.clearReceived();
    rig.op.boxes.clear();
    QPushButton* upgrade = rig.named<QPushButton>(Page::Programming, "Upgrade Firmware");
    rig.click(upgrade);
    ASSERT_TRUE(waitFor(
        [&] { return !rig.controller->firmwareUpgrade().isRunning() && upgrade->isEnabled(); }, 30000));
    EXPECT_EQ(rig.op.boxes,
              (QStringList{"Software NOT loaded... Drop *.qmf file on Tarvo window",
                           highPath + ": data outside the programmable addresses 0000 to 7FFF at line 1, "
                                      "byte 0. Nothing was sent."}));
    EXPECT_TRUE(rig.op.questions.isEmpty());
    EXPECT_TRUE(line.receivedLog().isEmpty());
    EXPECT_EQ(device->bootMonitor().erases(), 0);
}

// An upgrade that ends before anything is sent (no firmware loaded, the download question cancelled)
// leaves the link at the device's rate, and the device goes on answering: the link was once left at the
// boot monitor's 9600 baud, and a settings image asked for then never came.
TEST(ProgrammingPage, AnUpgradeRefusedOrCancelledLeavesTheLinkAtTheDevicesRate) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.baud = 115200;
    rig.lineOn(1, config);
    const QString firmwarePath = rig.dir.filePath("new.s19");
    ASSERT_TRUE(writeFile(firmwarePath, sRecords(sampleBinary(128), 0x0100)));
    rig.start();
    rig.showPage(Page::Programming);
    QLabel* info = rig.named<QLabel>(Page::Programming, "Programming information");
    QPushButton* upgrade = rig.named<QPushButton>(Page::Programming, "Upgrade Firmware");
    ASSERT_TRUE(info && upgrade);
    auto upgradeAndWait = [&] {
        rig.click(upgrade);
        return waitFor(
            [&] { return !rig.controller->firmwareUpgrade().isRunning() && upgrade->isEnabled(); });
    };

    ASSERT_TRUE(upgradeAndWait());
    EXPECT_EQ(rig.op.boxes, QStringList{"Software NOT loaded... Drop *.qmf file on Tarvo window"});
    rig.op.openNames << firmwarePath;
    rig.click(rig.named<QPushButton>(Page::Programming, "Load Firmware (*.qmf)"));
    rig.op.answers = {false};
    ASSERT_TRUE(upgradeAndWait());
    EXPECT_EQ(accessibleName(info), "Programing cancled!");

    EXPECT_EQ(rig.controller->link().port().baudRate(), 115200);
    EXPECT_TRUE(rig.named<QRadioButton>(Page::Options, "115200")->isChecked());
    EXPECT_EQ(rig.named<QLabel>(Page::Options, "Port and baud")->text(), "COM1@115200 baud");
    const QString imagePath = rig.dir.filePath("device.qmi");
    rig.op.saveNames << imagePath;
    rig.click(rig.named<QPushButton>(Page::Programming, "Get Image"));
    EXPECT_TRUE(waitFor([&] { return accessibleName(info) == "Hexfile saved successfully!"; }))
        << accessibleName(info).toStdString();
    EXPECT_TRUE(contents(imagePath).endsWith(":00000001FF\r\n"));
}

TEST(ProgrammingPage, ACloseDuringTheUpgradeWaitsForItsEndAndTheBarCountsRecords) {
    WindowRig rig;
    devsim::Device* device = readyToUpgrade(rig, 0x0200, 13);
    QLabel* info = rig.named<QLabel>(Page::Programming, "Programming information");
    QPushButton* upgrade = rig.named<QPushButton>(Page::Programming, "Upgrade Firmware");
    auto* bar = rig.named<QProgressBar>(Page::Programming, "Programming progress");

    // The window is closed while the firmware's second record goes out: it stays until the end.
    QString infoAtClose;
    bool visibleAtClose = false;
    const FirmwareUpgrade& up = rig.controller->firmwareUpgrade();
    QMetaObject::Connection closer = QObject::connect(
        &up.dialogue(), &BootloaderDialogue::progressChanged, [&](int current, qint64 total) {
            if (total == 4 && current == 1 && infoAtClose.isEmpty()) {
                rig.main().close();
                infoAtClose = accessibleName(info);
                visibleAtClose = rig.main().isVisible();
            }
        });
    rig.click(upgrade);
    ASSERT_TRUE(waitFor([&] { return !up.isRunning() && !rig.main().isVisible(); }, 30000));
    QObject::disconnect(closer);
    EXPECT_EQ(infoAtClose, FirmwareUpgrade::kCloseDeferred);
    EXPECT_TRUE(visibleAtClose);
    EXPECT_EQ(device->bootMonitor().recordAddresses(), (QList<int>{0x200, 0x280, 0x300, 0x380}));
    EXPECT_EQ(up.outcome(), FirmwareUpgrade::Outcome::DefaultsLoaded);
    // The bar counted the records: four of four.
    EXPECT_EQ(bar->maximum(), 4);
    EXPECT_EQ(bar->value(), 4);
}

TEST(ProgrammingPage, APortLostDuringTheUpgradeStaysOnTheInformationLineBeforeTheResult) {
    WindowRig rig;
    readyToUpgrade(rig, 0x0000, 17);
    QLabel* info = rig.named<QLabel>(Page::Programming, "Programming information");
    const FirmwareUpgrade& up = rig.controller->firmwareUpgrade();
    QMetaObject::Connection unplug = QObject::connect(&up.dialogue(), &BootloaderDialogue::progressChanged,
                                                      [&](int current, qint64 total) {
                                                          if (total == 4 && current == 1)
                                                              devsim::SimulatedPorts::unplug(1);
                                                      });
    QPushButton* upgrade = rig.named<QPushButton>(Page::Programming, "Upgrade Firmware");
    rig.click(upgrade);
    ASSERT_TRUE(waitFor([&] { return !up.isRunning() && upgrade->isEnabled(); }, 30000));
    QObject::disconnect(unplug);
    EXPECT_EQ(accessibleName(info), "COM1 not available: device removed - MXR Programming error");
    EXPECT_EQ(up.outcome(), FirmwareUpgrade::Outcome::PassFailed);
}

// While the upgrade runs the window takes no dropped file: the device gets the version the operator said
// yes to, and the page goes on showing it. A Get Image on a port that has gone says so at once, instead of
// blaming the device for its silence ten seconds later.
TEST(ProgrammingPage, AFileDroppedDuringTheUpgradeIsRefusedAndGetImageWithoutAPortSaysSoAtOnce) {
    WindowRig rig;
    devsim::Device* device = readyToUpgrade(rig, 0x0200, 11);
    const QString firmwarePath = rig.dir.filePath("new.s19");
    const QString otherPath = rig.dir.filePath("other.s19");
    ASSERT_TRUE(writeFile(otherPath, sRecords(sampleBinary(128, 5), 0x4000)));

    // The other file dragged over the window and dropped while the second record goes out.
    bool dragTaken = true;
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(otherPath)});
    const FirmwareUpgrade& up = rig.controller->firmwareUpgrade();
    QMetaObject::Connection dropper = QObject::connect(
        &up.dialogue(), &BootloaderDialogue::progressChanged, [&](int current, qint64 total) {
            if (total != 4 || current != 1)
                return;
            QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&rig.main(), &enter);
            dragTaken = enter.isAccepted();
            QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&rig.main(), &drop);
        });
    QPushButton* upgrade = rig.named<QPushButton>(Page::Programming, "Upgrade Firmware");
    rig.click(upgrade);
    ASSERT_TRUE(waitFor([&] { return !up.isRunning() && upgrade->isEnabled(); }, 30000));
    QObject::disconnect(dropper);
    EXPECT_FALSE(dragTaken);
    EXPECT_EQ(up.outcome(), FirmwareUpgrade::Outcome::DefaultsLoaded);
    EXPECT_EQ(device->bootMonitor().recordAddresses(), (QList<int>{0x200, 0x280, 0x300, 0x380}));
    EXPECT_EQ(rig.controller->firmwareLoader().path(), firmwarePath);
    EXPECT_TRUE(rig.named<QPlainTextEdit>(Page::Programming, "Firmware file")
                    ->toPlainText()
                    .contains("Addresses: 0200 to 0400"));

    // The adapter pulled out, then Get Image.
    devsim::SimulatedPorts::unplug(1);
    QTest::qWait(50);
    rig.op.boxes.clear();
    const QString imagePath = rig.dir.filePath("device.qmi");
    rig.op.saveNames << imagePath;
    QElapsedTimer clock;
    clock.start();
    rig.click(rig.named<QPushButton>(Page::Programming, "Get Image"));
    ASSERT_TRUE(waitFor([&] { return !rig.controller->settingsImages().isBusy(); }, 15000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(rig.op.boxes.filter("Get Image: COM1 not available").size(), 1)
        << rig.op.boxes.join('\n').toStdString();
    EXPECT_TRUE(rig.op.boxes.filter("end record").isEmpty()) << rig.op.boxes.join('\n').toStdString();
    EXPECT_FALSE(QFile::exists(imagePath));
}
