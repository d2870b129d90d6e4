// "Get Image" and "Put Image" against simulated transmitters: the file written, the bytes each device
// hears, the log and what the operator is told.
#include "BootRig.h"
#include "FirmwareFiles.h"
#include "engine/DeviceImage.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "support/SmallDisk.h"

using namespace tarvo;
using namespace tarvo::test;

namespace {

bool waitUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QTest::qWait(5);
    return done();
}

// Four parameters (CG, CM, DS, DP) and four more (AZ, AG, ZT, NR), big-endian.
QByteArray parameters(std::initializer_list<qint32> values) {
    QByteArray bytes;
    for (const qint32 v : values)
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.append(char((quint32(v) >> shift) & 0xFF));
    return bytes;
}

// Two data records and the end record, one a line.
QByteArray twoRecordImage() {
    return ':' + devsim::DeviceImage::record(0, parameters({20000, 50000, 2, 1})) +
           "\r\n:" + devsim::DeviceImage::record(16, parameters({0, 10000, 3, 7})) + "\r\n:00000001FF\r\n";
}

} // namespace

TEST(SettingsImage, GetImageWritesTheDevicesRecordsUpToTheEndRecordWhileItStreams) {
    BootRig rig;
    rig.device->setParameter("PD3", 1234);
    rig.device->setParameter("CG", -777);
    rig.link->writeRaw("SG\r"); // the gross stream runs meanwhile
    QTest::qWait(20);
    rig.line.clearReceived();
    rig.op.fileNames = {rig.file("device.qmi")};

    rig.images->getImageClicked();
    ASSERT_TRUE(rig.images->capturing());
    ASSERT_TRUE(waitUntil([&] { return !rig.images->isBusy() && rig.line.receivedTexts().size() >= 2; }));

    QByteArray expected;
    for (const QByteArray& line : devsim::DeviceImage::records(*rig.device).split('\r'))
        if (!line.isEmpty())
            expected += line + "\r\n";
    const QByteArray written = readFile(rig.file("device.qmi"));
    EXPECT_EQ(written, expected);
    EXPECT_TRUE(written.endsWith(":00000001FF\r\n"));
    EXPECT_TRUE(rig.images->lastCaptureSaved());
    EXPECT_EQ(rig.op.infoMessages(), QStringList{"Hexfile saved successfully!"});
    // The request, then the gross stream started again.
    EXPECT_EQ(rig.line.receivedTexts(), (QList<QByteArray>{"GI\r", "SG\r"}));
    EXPECT_EQ(rig.link->streamMatcher().startString(), "G");
    EXPECT_TRUE(rig.link->streamMatcher().isEnabled());
}

TEST(SettingsImage, ACaptureWithoutItsEndRecordOrWithoutAFileLeavesWhatWasThere) {
    BootRig rig;
    ASSERT_TRUE(rig.write("old.qmi", ":00000001FF\r\n"));
    rig.line.setFault(devsim::Line::Fault::Silent);
    rig.op.fileNames = {rig.file("old.qmi")};
    rig.images->getImageClicked();
    ASSERT_TRUE(rig.images->capturing());
    // The time limit is 10 s of device time.
    ASSERT_TRUE(waitUntil([&] { return !rig.images->isBusy(); }));
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{"Get Image: the device sent no end record within 10 s; " +
                                                 rig.file("old.qmi") + " was not written."});
    EXPECT_EQ(readFile(rig.file("old.qmi")), ":00000001FF\r\n");
    EXPECT_FALSE(rig.images->lastCaptureSaved());
    EXPECT_EQ(rig.link->streamMatcher().startString(), "G");

    // A file that cannot be made: nothing is asked of the device.
    rig.line.setFault(devsim::Line::Fault::None);
    rig.line.clearReceived();
    rig.op.events.clear();
    rig.op.fileNames = {rig.file("no/such/folder/device.qmi")};
    rig.images->getImageClicked();
    EXPECT_FALSE(rig.images->capturing());
    EXPECT_EQ(rig.op.messageBoxes(),
              (QStringList{"File can be in use by another program",
                           " Can not write file!\n" + rig.file("no/such/folder/device.qmi") +
                               ": No such file or directory"}));
    QTest::qWait(20);
    EXPECT_TRUE(rig.line.receivedLog().isEmpty());
}

TEST(SettingsImage, PutImageToTheConnectedDeviceSendsTheRecordsAsOneRunAndTheOkComesAfterTheLastCharacter) {
    BootRig rig;
    ASSERT_TRUE(rig.write("two.qmi", twoRecordImage()));
    rig.op.fileNames = {rig.file("two.qmi")};
    QList<int> maxima;
    QObject::connect(rig.images.get(), &SettingsImageTransfer::progressChanged,
                     [&](int, int maximum) { maxima << maximum; });

    rig.images->putImageClicked();

    QByteArray run = twoRecordImage();
    run.replace("\r\n", "");
    EXPECT_EQ(rig.heard(), "PI\r" + run); // no "OP", no line ends
    EXPECT_EQ(rig.images->log(), QStringList{"Adr:0 Done"});
    EXPECT_EQ(rig.images->status(), "Adr:0 OK -");
    EXPECT_EQ(rig.op.infoMessages().last(), "Adr:0 OK -");
    EXPECT_EQ(rig.device->storedParameter("CG"), 20000);
    EXPECT_EQ(rig.device->parameter("CM"), 50000);
    EXPECT_EQ(rig.device->parameter("NR"), 7);
    EXPECT_EQ(rig.images->progress(), 0);
    EXPECT_TRUE(maxima.contains(int(run.size())));
}

TEST(SettingsImage, PutImageOverARangeOpensEachAddressInTurnAndLogsEveryOne) {
    BootRig rig(false);
    devsim::DeviceConfig config;
    config.baud = 115200;
    config.address = 3;
    devsim::Device* three = rig.line.addDevice(config);
    config.address = 5;
    devsim::Device* five = rig.line.addDevice(config);
    ASSERT_TRUE(rig.write("two.qmi", twoRecordImage()));

    // A range the wrong way round sends nothing.
    rig.images->setFromAddress("05");
    rig.images->setToAddress("03");
    rig.op.fileNames = {rig.file("two.qmi")};
    rig.images->putImageClicked();
    EXPECT_TRUE(rig.line.receivedLog().isEmpty());
    EXPECT_TRUE(rig.images->log().isEmpty());

    rig.images->setFromAddress("03");
    rig.images->setToAddress("05");
    rig.op.fileNames = {rig.file("two.qmi")};
    rig.images->putImageClicked();

    QList<QByteArray> opens;
    for (const QByteArray& text : rig.line.receivedTexts())
        if (text.startsWith("OP"))
            opens << text;
    EXPECT_EQ(opens, (QList<QByteArray>{"OP3\r", "OP4\r", "OP5\r"}));
    EXPECT_EQ(rig.images->log(), (QStringList{"Adr:3 Done", "Adr:4 Error", "Adr:5 Done"}));
    EXPECT_EQ(rig.images->status(), "Adr:3 OK -Adr:4 Err -Adr:5 OK -");
    EXPECT_EQ(three->parameter("CG"), 20000);
    EXPECT_EQ(five->parameter("CG"), 20000);
}

TEST(SettingsImage, AFileThatIsNoSettingsImageIsRefusedBeforeTheDeviceHearsAnything) {
    BootRig rig;
    ASSERT_TRUE(rig.write("notes.qmi", ":00000001FF\r\nhello\r\n"));
    ASSERT_TRUE(rig.write("cut.qmi", twoRecordImage().left(60)));
    rig.op.fileNames = {rig.file("notes.qmi"), rig.file("cut.qmi"), rig.file("missing.qmi"), rig.file("")};
    rig.images->putImageClicked();
    rig.images->putImageClicked();
    rig.images->putImageClicked();
    rig.images->putImageClicked();
    EXPECT_EQ(
        rig.op.messageBoxes(),
        (QStringList{rig.file("notes.qmi") + " is not a settings image: line 2 does not start with \":\". "
                                             "Nothing was sent.",
                     rig.file("cut.qmi") + " is not a settings image: it does not end with the end record "
                                           ":00000001FF. Nothing was sent.",
                     // The real reason after the program's words (once they were all it said).
                     "File can be in use by another program\n" + rig.file("missing.qmi") +
                         ": No such file or directory",
                     "File can be in use by another program\n" + rig.file("") + ": Is a directory"}));
    EXPECT_TRUE(rig.line.receivedLog().isEmpty());
    EXPECT_FALSE(rig.link->isHeld());
}

// Get Image never replaces a device or a pipe named as the file (the device is asked for nothing), and
// a disk that fills during the capture keeps the old image and says why.
TEST(SettingsImage, GetImageNeverReplacesADeviceAndAFullDiskKeepsTheOldImage) {
    BootRig rig;
    const QString fifo = rig.file("pipe.qmi");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    // A full device of its own where root may make one; never the machine's.
    QStringList targets{fifo};
    const QString node = rig.file("full");
    if (::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0)
        targets << node;
    for (const QString& target : targets) {
        rig.op.clear();
        rig.op.fileNames = {target};
        rig.images->getImageClicked();
        EXPECT_FALSE(rig.images->capturing());
        const QString kind = target == fifo ? "a pipe" : "a character device";
        EXPECT_EQ(rig.op.messageBoxes(),
                  (QStringList{"File can be in use by another program",
                               " Can not write file!\n" + target + ": Is " + kind + ", not a regular file"}));
        struct stat after {};
        ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, target == fifo ? S_IFIFO : S_IFCHR);
    }
    QTest::qWait(20);
    EXPECT_TRUE(rig.line.receivedLog().isEmpty());

    SmallDisk disk(16);
    if (!disk.mounted())
        GTEST_SKIP() << disk.whyNot();
    const QString old = disk.path("old.qmi");
    {
        QFile f(old);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(":00000001FF\r\n");
    }
    rig.op.clear();
    rig.op.fileNames = {old};
    rig.images->getImageClicked();
    ASSERT_TRUE(rig.images->capturing());
    disk.fill(0); // the disk fills while the device sends
    ASSERT_TRUE(waitUntil([&] { return !rig.images->isBusy(); }));
    EXPECT_FALSE(rig.images->lastCaptureSaved());
    EXPECT_EQ(rig.op.messageBoxes(),
              QStringList{" Can not write file!\n" + old + ": No space left on device"});
    EXPECT_EQ(readFile(old), ":00000001FF\r\n");
    EXPECT_EQ(disk.entries(), QStringList{"old.qmi"});
}

TEST(SettingsImage, PutImageEndsAtOnceWhenThePortIsLost) {
    BootRig rig;
    ASSERT_TRUE(rig.write("two.qmi", twoRecordImage()));
    rig.op.fileNames = {rig.file("two.qmi")};
    // Every address of the range: long enough to pull the adapter out in the middle.
    rig.images->setFromAddress("00");
    rig.images->setToAddress("63");
    QTimer::singleShot(200, [] { devsim::SimulatedPorts::unplug(1); });

    rig.images->putImageClicked();

    EXPECT_FALSE(rig.link->port().isOpen());
    ASSERT_FALSE(rig.images->log().isEmpty());
    EXPECT_LT(rig.images->log().size(), 64);
    EXPECT_TRUE(rig.images->log().last().endsWith(" Error"));
    EXPECT_FALSE(rig.images->isBusy());
    EXPECT_FALSE(rig.link->isHeld());
}
