// "Upgrade Firmware" against the simulated boot monitor: the exact bytes of both passes, the prompts,
// the kernel file and its stored path, and what the operator is told when a pass fails.
#include "BootRig.h"
#include "FirmwareFiles.h"
#include "link/QtSerialPortDevice.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

// Sync, "U", the kernel's length 1024 high byte first, the kernel, erase.
QByteArray passStart(const QByteArray& kernel) {
    return QByteArray("\0U\x04\0", 4) + kernel + '\xAA';
}

// ":" "80" address "00", 128 bytes, the two's complement of their sum, then the closing "\r".
QByteArray recordLine(int address, const QByteArray& block) {
    QByteArray bytes;
    bytes.append(char(0x80));
    bytes.append(char(address >> 8));
    bytes.append(char(address & 0xFF));
    bytes.append('\0');
    bytes.append(block);
    quint8 sum = 0;
    for (const char b : bytes)
        sum = quint8(sum + quint8(b));
    bytes.append(char(quint8(0x100 - sum)));
    return ':' + bytes.toHex().toUpper() + '\r';
}

const QByteArray kEnd = ":00000001FF\r\n";

QStringList infos(const FakeOperator& op) {
    return op.infoMessages();
}

} // namespace

TEST(FirmwareUpgrade, TheFixtureRunSendsTheKernelThenOnlyTheBlocksThatHoldDataAndLoadsDefaults) {
    BootRig rig;
    const QByteArray kernel = rig.useKernel();
    const QByteArray data = sampleBinary(128);
    ASSERT_TRUE(rig.loadFirmware(data, 0x0100));
    rig.upgrade->setTestFixture(true);
    rig.device->setBootMode(true); // the fixture's switch
    rig.op.answers = {true};
    // A timer's device work asked for during the upgrade waits for its end.
    bool queuedRanAfter = false;
    QTimer::singleShot(0, [&] {
        rig.link->runWhenIdle([&] {
            queuedRanAfter = !rig.upgrade->isRunning();
            rig.link->writeRaw("ID\r");
        });
    });

    rig.upgrade->upgradeFirmwareClicked();

    QByteArray firstPass = passStart(kernel);
    for (int block = 0; block < 8; ++block) // the kernel buffer's non-empty blocks
        firstPass += recordLine(block * 128, kernel.mid(block * 128, 128));
    firstPass += kEnd;
    const QByteArray secondPass = passStart(kernel) + recordLine(0x0100, data) + kEnd;
    const QByteArray code = QByteArray::number(rig.device->unlockCode()).rightJustified(5, '0');
    const QByteArray defaults = "CE\rCE" + code + "\rFD\r";
    QTest::qWait(20);
    EXPECT_EQ(rig.heard(), firstPass + secondPass + defaults + "ID\r");
    EXPECT_TRUE(queuedRanAfter);

    EXPECT_EQ(rig.op.events.filter("ask: ").join('|'),
              "ask: Do you want to download firmware: 16843009 -> yes");
    EXPECT_TRUE(rig.op.messageBoxes().isEmpty()); // no switch prompts with the fixture
    EXPECT_EQ(infos(rig.op), (QStringList{"Programing in progress...", "Programming Done!",
                                          "Programing Done.... and defaults loaded!"}));
    EXPECT_EQ(rig.upgrade->state(), 0);
    EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::DefaultsLoaded);
    EXPECT_EQ(rig.pageControl, (QList<bool>{false, true}));
    EXPECT_EQ(rig.ports->baudChoice(), 9600);
    // The device holds the image and runs its new firmware; "FD" used up the handshake's code.
    EXPECT_EQ(rig.device->bootMonitor().recordAddresses(), QList<int>{0x0100});
    EXPECT_EQ(rig.device->bootMonitor().flash().sliced(0x0100, 128).toByteArray(), data);
    EXPECT_FALSE(rig.device->inBootMode());
    EXPECT_FALSE(rig.device->isUnlocked());
    // The bars end at the second pass's figures: records sent of records to send.
    EXPECT_EQ(rig.upgrade->progressCurrent(), 1);
    EXPECT_EQ(rig.upgrade->progressTotal(), 1);
    EXPECT_FALSE(rig.upgrade->progressTimerActive());
}

TEST(FirmwareUpgrade, ASyncAnsweredOnTheThirdTryGoesOnAndARefusedRecordEndsThePassAfterItsEndRecord) {
    BootRig rig;
    const QByteArray kernel = rig.useKernel();
    const QByteArray data = sampleBinary(256, 99);
    ASSERT_TRUE(rig.loadFirmware(data, 0x0200));
    rig.upgrade->setTestFixture(true);
    devsim::BootMonitor::Faults faults;
    faults.syncMisses = 2;
    faults.refuseRecord = 1; // each pass's second record
    rig.device->bootMonitor().setFaults(faults);
    rig.device->setBootMode(true);
    rig.op.answers = {true};

    rig.upgrade->upgradeFirmwareClicked();

    const QByteArray heard = rig.heard();
    // Three sync bytes, then "U".
    EXPECT_TRUE(heard.startsWith(QByteArray("\0\0\0U\x04\0", 6))) << heard.left(8).toHex().toStdString();
    EXPECT_EQ(rig.device->bootMonitor().syncsHeard(), 4); // three in the first pass, one in the second
    // The second pass stops at its refused second record, then sends the end record and nothing more.
    const QByteArray secondPass =
        passStart(kernel) + recordLine(0x0200, data.left(128)) + recordLine(0x0280, data.mid(128)) + kEnd;
    EXPECT_TRUE(heard.endsWith(secondPass));
    EXPECT_EQ(infos(rig.op), (QStringList{"Programing in progress...", "MXR Programming error"}));
    EXPECT_EQ(rig.upgrade->state(), 3);
    EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::PassFailed);
    EXPECT_TRUE(rig.device->inBootMode()); // no defaults after a failed pass
    // Progress counts records, wherever the firmware starts: one of two went through.
    EXPECT_EQ(rig.upgrade->progressCurrent(), 1);
    EXPECT_EQ(rig.upgrade->progressTotal(), 2);
}

TEST(FirmwareUpgrade, WithoutTheFixtureThePromptsFrameThePassesAndAChosenKernelIsStored) {
    BootRig rig;
    const QByteArray kernel = rig.useKernel();
    const QString good = rig.storedKernel;
    rig.storedKernel = FirmwareUpgrade::defaultKernelPath(); // a folder: nothing to read
    ASSERT_TRUE(rig.write("firmware.hex", ":020000000102FB\n:00000001FF\n"));
    ASSERT_TRUE(rig.loadFirmware(sampleBinary(128), 0x7F80));
    rig.op.answers = {true};
    // The first file chosen is Intel hex, no kernel; the second is.
    rig.op.fileNames = {rig.file("firmware.hex"), good};

    rig.upgrade->upgradeFirmwareClicked();

    EXPECT_EQ(rig.op.events.filter(QRegularExpression("^(box|open|ask)")),
              (QStringList{"ask: Do you want to download firmware: 16843009 -> yes",
                           "box[]: Now solder prog. switch on MXR... then RESET MXR! and press OK",
                           "open: Prog41.a20",
                           "box[Kernel error]: Unable to open Prog41.a20...maybe not a HEX file\n" +
                               rig.file("firmware.hex") + ": no S-record data. Nothing was sent.",
                           "open: Prog41.a20",
                           "box[]: Now un-solder prog. switch on MXR... then RESET MXR! and press OK"}));
    EXPECT_EQ(rig.storedKernel, good);
    EXPECT_EQ(infos(rig.op).last(), "Programing Done.... and defaults loaded!");
    EXPECT_EQ(rig.device->bootMonitor().kernel(), kernel);
    EXPECT_EQ(rig.device->bootMonitor().recordAddresses(), QList<int>{0x7F80});
    // Programmed firmware starts at 9600 baud.
    EXPECT_EQ(rig.device->activeBaud(), 9600);
}

TEST(FirmwareUpgrade, RefusalsAndFailedPassesSayWhatWentWrong) {
    BootRig rig;
    rig.useKernel();

    // Nothing loaded, or a file that failed to load: nothing reaches the device.
    rig.upgrade->upgradeFirmwareClicked();
    ASSERT_TRUE(rig.write("broken.hex", ":0400000001020304F0\n:00000001FF\n")); // wrong checksum
    rig.firmware->load(rig.file("broken.hex"));
    rig.upgrade->upgradeFirmwareClicked();
    EXPECT_EQ(rig.op.messageBoxes().filter("Software NOT loaded").size(), 2);

    // Cancel in the download question.
    ASSERT_TRUE(rig.loadFirmware(sampleBinary(128), 0x0100));
    rig.op.events.clear();
    rig.op.answers = {false};
    rig.upgrade->upgradeFirmwareClicked();
    // The version is what the loader holds (the failed load above left its header copy behind).
    EXPECT_EQ(rig.op.events, (QStringList{"ask: Do you want to download firmware: " +
                                              QString::number(rig.firmware->softwareVersion()) + " -> no",
                                          "info: Programing cancled!"}));

    // No kernel, and the open dialog cancelled.
    rig.storedKernel = rig.file("missing.a20");
    rig.op.events.clear();
    rig.op.answers = {true};
    rig.upgrade->setTestFixture(true);
    rig.upgrade->upgradeFirmwareClicked();
    EXPECT_EQ(rig.op.events.last(),
              "box[Kernel error]: Unable to open Prog41.a20...Programing NOT possible!");
    EXPECT_TRUE(rig.heard().isEmpty());
    EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::NotStarted);
    EXPECT_EQ(rig.pageControl, (QList<bool>{false, true}));

    // An erase refused, then a monitor that never answers.
    rig.useKernel();
    devsim::BootMonitor::Faults faults;
    faults.eraseFails = true;
    rig.device->bootMonitor().setFaults(faults);
    rig.device->setBootMode(true);
    rig.op.answers = {true};
    rig.upgrade->upgradeFirmwareClicked();
    EXPECT_EQ(rig.op.infoMessages().last(), "MXR Erase error");
    EXPECT_EQ(rig.upgrade->state(), 2);
    faults = {};
    faults.silent = true;
    rig.device->bootMonitor().setFaults(faults);
    rig.op.answers = {true};
    rig.line.clearReceived();
    rig.upgrade->upgradeFirmwareClicked();
    EXPECT_EQ(rig.op.infoMessages().last(), "No response from MXR");
    EXPECT_EQ(rig.upgrade->state(), 1);
    EXPECT_EQ(rig.heard(), QByteArray(10, '\0')); // five sync bytes in each pass

    // No serial port to send on: its reason, not the device's silence, and nothing asked or sent.
    rig.device->bootMonitor().setFaults({});
    devsim::SimulatedPorts::unplug(1);
    rig.line.clearReceived();
    rig.op.events.clear();
    rig.op.answers = {true};
    rig.upgrade->upgradeFirmwareClicked();
    EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::NotStarted);
    EXPECT_TRUE(rig.op.events.filter("ask: ").isEmpty()) << rig.op.events.join('\n').toStdString();
    EXPECT_EQ(rig.op.messageBoxes().filter("COM1 not available").size(), 1)
        << rig.op.events.join('\n').toStdString();
    EXPECT_TRUE(rig.op.infoMessages().filter("No response from MXR").isEmpty());
    EXPECT_TRUE(rig.heard().isEmpty());
}

TEST(FirmwareUpgrade, BytesSentOneByOneOnARealPortAreNeverCutByTheNextOne) {
    // A pseudo-terminal stands for the UART: emptying its transmit side throws away what its far end
    // has not read yet, as a real UART drops bytes still waiting to go out.
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ComPortMap map;
    map.setPath(1, QString::fromLocal8Bit(name));
    FakeOperator op;
    CommandLink link(std::make_unique<QtSerialPortDevice>(map), op);
    link.initialise();
    ASSERT_TRUE(link.port().isOpen());
    const QByteArray record = recordLine(0x0100, sampleBinary(128));
    for (const char c : record)
        link.sendByte(quint8(c));
    ASSERT_TRUE(link.drainOutput(1000));
    QByteArray arrived;
    QElapsedTimer clock;
    clock.start();
    while (arrived.size() < record.size() && clock.elapsed() < 2000) {
        pollfd ready{master, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        char buffer[1024];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            arrived.append(buffer, n);
    }
    EXPECT_EQ(arrived, record);
    link.port().close();
    ::close(slave);
    ::close(master);
}

TEST(FirmwareUpgrade, AFileOrKernelThatCannotBeProgrammedIsRefusedBeforeAnythingIsSent) {
    BootRig rig;
    rig.useKernel();
    rig.upgrade->setTestFixture(true);
    rig.device->setBootMode(true);

    // Firmware above the flash, across its end, no data at all, or only erased bytes (which the pass
    // leaves out, so it would only erase): the loader refuses, and so does the upgrade.
    const QByteArray firmwareFiles[] = {":02C0000011220B\n:00000001FF\n", ":027FFF0011224D\n:00000001FF\n",
                                        ":00000001FF\n", ":04010000FFFFFFFFFF\n:00000001FF\n"};
    for (const QByteArray& text : firmwareFiles) {
        ASSERT_TRUE(rig.write("refused.hex", text));
        rig.op.events.clear();
        EXPECT_FALSE(rig.firmware->load(rig.file("refused.hex")));
        rig.upgrade->upgradeFirmwareClicked();
        EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::NotStarted);
        const QStringList boxes = rig.op.messageBoxes();
        ASSERT_EQ(boxes.size(), 3) << boxes.join('\n').toStdString(); // the load's, NOT loaded, the reason
        EXPECT_EQ(boxes[1], "Software NOT loaded... Drop *.qmf file on Tarvo window");
        EXPECT_TRUE(boxes[2].startsWith(rig.file("refused.hex") + ": "));
        EXPECT_TRUE(boxes[2].endsWith(". Nothing was sent."));
        EXPECT_TRUE(rig.op.events.filter("ask: ").isEmpty());
    }

    // A damaged kernel: a changed checksum, cut in its 13th record, half its length, the wrong base.
    ASSERT_TRUE(rig.loadFirmware(sampleBinary(256), 0x0100));
    QByteArray kernel(1024, '\0');
    for (int i = 0; i < kernel.size(); ++i)
        kernel[i] = char(i * 3);
    const QByteArray good = sRecords(kernel, 0xF780);
    const QList<QByteArray> lines = good.split('\n');
    QByteArray changed = good;
    const qsizetype fifthEnd = good.indexOf(lines[4]) + lines[4].size();
    changed[fifthEnd - 1] = changed[fifthEnd - 1] == '0' ? '1' : '0';
    const QList<QPair<QByteArray, QString>> kernels = {
        {changed, "checksum error in record 5"},
        {good.left(good.indexOf(lines[12]) + 20), "the file ends inside record 13"},
        {sRecords(kernel.left(512), 0xF780), "holds 512 of the kernel's 1024 bytes at F780 to FB7F"},
        {sRecords(kernel, 0xF800), "data at address FB80 in record 30, outside the kernel's F780 to FB7F"},
    };
    for (const auto& [text, reason] : kernels) {
        ASSERT_TRUE(rig.write("Prog41.a20", text));
        rig.storedKernel = rig.file("Prog41.a20");
        rig.op.events.clear();
        rig.op.answers = {true};
        rig.upgrade->upgradeFirmwareClicked(); // the open dialog is cancelled
        EXPECT_EQ(rig.op.events.filter(QRegularExpression("^box")),
                  (QStringList{"box[Kernel error]: Unable to open Prog41.a20...maybe not a HEX file\n" +
                                   rig.file("Prog41.a20") + ": " + reason + ". Nothing was sent.",
                               "box[Kernel error]: Unable to open Prog41.a20...Programing NOT possible!"}))
            << reason.toStdString();
        EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::NotStarted);
    }
    EXPECT_TRUE(rig.heard().isEmpty()) << rig.heard().left(16).toHex().toStdString();
    EXPECT_EQ(rig.device->bootMonitor().erases(), 0);
}

TEST(FirmwareUpgrade, AfterASecondLoadOnlyTheSecondFileIsProgrammed) {
    BootRig rig;
    rig.useKernel();
    rig.upgrade->setTestFixture(true);
    rig.device->setBootMode(true);
    ASSERT_TRUE(rig.loadFirmware(sampleBinary(4096, 1), 0x0000));
    const QByteArray second = sampleBinary(128, 2);
    ASSERT_TRUE(rig.loadFirmware(second, 0x0800));
    rig.op.answers = {true};

    rig.upgrade->upgradeFirmwareClicked();

    EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::DefaultsLoaded);
    EXPECT_EQ(rig.device->bootMonitor().recordAddresses(), QList<int>{0x0800});
    QByteArray expected(0x8000, char(0xFF));
    expected.replace(0x0800, 128, second);
    EXPECT_EQ(rig.device->bootMonitor().flash().first(0x8000).toByteArray(), expected);
}

TEST(FirmwareUpgrade, AStopEndsAfterTheCurrentRecordWithTheEndRecordOrBeforeTheEraseAndSaysHowFar) {
    BootRig rig;
    const QByteArray kernel = rig.useKernel();
    const QByteArray data = sampleBinary(128 * 6, 7);
    ASSERT_TRUE(rig.loadFirmware(data, 0x0000));
    rig.upgrade->setTestFixture(true);
    rig.device->setBootMode(true);

    // Asked once the second pass's second record is acknowledged.
    const QMetaObject::Connection stopper = QObject::connect(
        &rig.upgrade->dialogue(), &BootloaderDialogue::progressChanged, [&](int current, qint64 total) {
            if (total == 6 && current == 2)
                rig.upgrade->requestStop();
        });
    rig.op.answers = {true};
    rig.upgrade->upgradeFirmwareClicked();
    QObject::disconnect(stopper);

    EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::Interrupted);
    EXPECT_TRUE(rig.upgrade->lastPassWasFirmware());
    EXPECT_TRUE(rig.upgrade->lastPass().erased);
    EXPECT_EQ(rig.upgrade->lastPass().recordsDone, 2);
    EXPECT_EQ(rig.upgrade->lastPass().recordsToSend, 6);
    // Two records, then the end record and nothing more: no defaults.
    EXPECT_TRUE(rig.heard().endsWith(passStart(kernel) + recordLine(0, data.left(128)) +
                                     recordLine(0x80, data.mid(128, 128)) + kEnd));
    EXPECT_EQ(rig.device->bootMonitor().stateText(), "erases=2 passes=2 records=2 mode=ended");
    EXPECT_TRUE(rig.op.infoMessages().filter("Programming Done!").isEmpty());
    EXPECT_EQ(rig.pageControl, (QList<bool>{false, true}));

    // Asked during the first pass's kernel download: no erase, the flash as it was.
    rig.line.clearReceived();
    const QByteArray flashBefore = rig.device->bootMonitor().flash().toByteArray();
    rig.device->setBootMode(true);
    const QMetaObject::Connection early = QObject::connect(
        &rig.upgrade->dialogue(), &BootloaderDialogue::progressChanged, [&](int current, qint64 total) {
            if (total == 1024 && current == 100)
                rig.upgrade->requestStop();
        });
    rig.op.answers = {true};
    rig.upgrade->upgradeFirmwareClicked();
    QObject::disconnect(early);
    EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::Interrupted);
    EXPECT_FALSE(rig.upgrade->lastPass().erased);
    EXPECT_FALSE(rig.upgrade->lastPassWasFirmware());
    EXPECT_EQ(rig.heard(), QByteArray("\0U\x04\0", 4) + kernel.left(100));
    EXPECT_EQ(rig.device->bootMonitor().erases(), 2);
    EXPECT_EQ(rig.device->bootMonitor().flash().toByteArray(), flashBefore);
    EXPECT_TRUE(rig.upgrade->anythingSent());
    EXPECT_FALSE(rig.upgrade->deviceErased());

    // Asked as the second pass begins: the kernel's pass has erased the device already, and the upgrade
    // says so although the second pass stopped before its own erase.
    rig.device->setBootMode(true);
    int kernelStarts = 0;
    const QMetaObject::Connection between = QObject::connect(
        &rig.upgrade->dialogue(), &BootloaderDialogue::progressChanged, [&](int current, qint64 total) {
            if (total == 1024 && current == 0 && ++kernelStarts == 2)
                rig.upgrade->requestStop();
        });
    rig.op.answers = {true};
    rig.upgrade->upgradeFirmwareClicked();
    QObject::disconnect(between);
    EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::Interrupted);
    EXPECT_TRUE(rig.upgrade->lastPassWasFirmware());
    EXPECT_FALSE(rig.upgrade->lastPass().erased);
    EXPECT_TRUE(rig.upgrade->deviceErased());
    EXPECT_EQ(rig.device->bootMonitor().erases(), 3);

    // Asked as the last record is acknowledged: the firmware is whole, and the factory defaults, which reset
    // every setting, are not loaded against the stop.
    rig.device->setBootMode(true);
    rig.line.clearReceived();
    const QMetaObject::Connection last = QObject::connect(
        &rig.upgrade->dialogue(), &BootloaderDialogue::progressChanged, [&](int current, qint64 total) {
            if (total == 6 && current == 6)
                rig.upgrade->requestStop();
        });
    rig.op.answers = {true};
    rig.upgrade->upgradeFirmwareClicked();
    QObject::disconnect(last);
    EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::Interrupted);
    EXPECT_EQ(rig.upgrade->lastPass().state, BootloaderDialogue::State::Done);
    EXPECT_EQ(rig.upgrade->lastPass().recordsDone, 6);
    EXPECT_TRUE(rig.heard().endsWith(recordLine(0x280, data.mid(0x280, 128)) + kEnd));
    EXPECT_FALSE(rig.heard().contains("FD\r"));
}

TEST(FirmwareUpgrade, AFileLoadedWhileThePassesRunLeavesTheConfirmedVersionToBeProgrammed) {
    BootRig rig;
    rig.useKernel();
    const QByteArray data = sampleBinary(128 * 6, 7);
    ASSERT_TRUE(rig.loadFirmware(data, 0x0000));
    rig.upgrade->setTestFixture(true);
    rig.device->setBootMode(true);
    // A file that does not load, and one that does, each loaded in the middle of a pass.
    ASSERT_TRUE(rig.write("bad.hex", "garbage that is no firmware at all, long enough to be no header...."));
    ASSERT_TRUE(rig.write("other.s19", sRecords(sampleBinary(128, 9), 0x4000)));
    const QMetaObject::Connection loader = QObject::connect(
        &rig.upgrade->dialogue(), &BootloaderDialogue::progressChanged, [&](int current, qint64 total) {
            if (total == 1024 && current == 512)
                rig.firmware->load(rig.file("other.s19"));
            else if (total == 6 && current == 2)
                rig.firmware->load(rig.file("bad.hex"));
        });
    rig.op.answers = {true};
    rig.upgrade->upgradeFirmwareClicked();
    QObject::disconnect(loader);

    EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::DefaultsLoaded);
    EXPECT_EQ(rig.upgrade->lastPass().recordsDone, 6);
    QByteArray expected(0x8000, char(0xFF));
    expected.replace(0, data.size(), data);
    EXPECT_EQ(rig.device->bootMonitor().flash().first(0x8000).toByteArray(), expected);
}

TEST(FirmwareUpgrade, APortLostDuringThePassKeepsItsCauseBeforeTheResult) {
    BootRig rig;
    rig.useKernel();
    ASSERT_TRUE(rig.loadFirmware(sampleBinary(128 * 4, 3), 0x0000));
    rig.upgrade->setTestFixture(true);
    rig.device->setBootMode(true);
    const QMetaObject::Connection unplug = QObject::connect(
        &rig.upgrade->dialogue(), &BootloaderDialogue::progressChanged, [&](int current, qint64 total) {
            if (total == 4 && current == 1)
                devsim::SimulatedPorts::unplug(1);
        });
    rig.op.answers = {true};
    rig.upgrade->upgradeFirmwareClicked();
    QObject::disconnect(unplug);

    EXPECT_EQ(rig.upgrade->outcome(), FirmwareUpgrade::Outcome::PassFailed);
    EXPECT_EQ(rig.op.infoMessages().last(), "COM1 not available: device removed - MXR Programming error");
}

TEST(FirmwareUpgrade, ATransactionNeverDiscardsBytesWrittenBeforeIt) {
    // On a pseudo-terminal the drain returns at once, and emptying the transmit side throws away what the
    // far end has not read yet: the put image's last character went through such a transaction.
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ComPortMap map;
    map.setPath(1, QString::fromLocal8Bit(name));
    FakeOperator op;
    CommandLink link(std::make_unique<QtSerialPortDevice>(map), op);
    link.initialise();
    ASSERT_TRUE(link.port().isOpen());
    const QByteArray before = ":0400000001020304F2:00000001F";
    ASSERT_TRUE(link.writeRaw(before));
    link.drainOutput(1000);
    // The far end reads only once the transaction waits, and answers "OK" to the last character.
    QByteArray arrived;
    QSocketNotifier readable(master, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, [&] {
        char buffer[1024];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            arrived.append(buffer, n);
        if (arrived.endsWith('F') && arrived.size() > before.size()) {
            [[maybe_unused]] const ssize_t written = ::write(master, "OK\r", 3);
        }
    });
    const QByteArray reply = link.sendAndReceive(1, "F", 1000, Framing::startingWith("O"));
    EXPECT_EQ(reply, "K");
    EXPECT_EQ(arrived, before + "F");
    link.port().close();
    ::close(slave);
    ::close(master);
}
