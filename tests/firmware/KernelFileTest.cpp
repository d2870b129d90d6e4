// The programming kernel's S-record reader, on files written here and by srec_cat.
#include "firmware/KernelFile.h"
#include "BootRig.h"
#include "FirmwareFiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

TEST(KernelFile, FillsTheBufferFromTheKernelsBaseAndReportsEveryReadState) {
    QTemporaryDir dir;
    KernelFile kernel;
    const QByteArray code = sampleBinary(1024);

    // Written by an outside tool: a header record, S1 data from 0xF780 and the closing record.
    const QString binary = dir.filePath("kernel.bin");
    const QString a20 = dir.filePath("Prog41.a20");
    ASSERT_TRUE(writeFile(binary, code));
    QString error;
    if (runTool("srec_cat",
                {binary, "-binary", "-offset", "0xF780", "-o", a20, "-motorola", "-address-length=2"},
                &error)) {
        EXPECT_EQ(kernel.read(a20), KernelFile::State::Ok);
        EXPECT_TRUE(kernel.usable());
        EXPECT_EQ(kernel.kernel().toByteArray(), code);
        EXPECT_EQ(kernel.dataBytes(), 1024);
        EXPECT_EQ(kernel.buffer().sliced(1024).toByteArray(),
                  QByteArray(KernelFile::kBufferSize - 1024, char(0xFF)));
    } else {
        ADD_FAILURE() << error.toStdString();
    }

    // Data below the base wraps in 16 bits: device address 0x0000 lands at 0x0880.
    EXPECT_EQ(kernel.readText(sRecords("\x11\x22", 0x0000)), KernelFile::State::Ok);
    EXPECT_EQ(kernel.buffer().sliced(0x0880, 2).toByteArray(), QByteArray("\x11\x22"));
    EXPECT_EQ(kernel.kernel().toByteArray(), QByteArray(1024, char(0xFF))); // refilled before the read

    // An index of 0x8000 or beyond (device address 0x7780) stops the read with state 2.
    EXPECT_EQ(
        kernel.readText(sRecords("\x01\x02", 0xF780).replace("S9030000FC\n", "") + sRecords("\x03", 0x7780)),
        KernelFile::State::AddressRange);
    EXPECT_FALSE(kernel.usable()); // what came before is no whole kernel
    EXPECT_EQ(kernel.kernel().first(2).toByteArray(), QByteArray("\x01\x02"));

    // A wrong checksum, and a record cut off by the end of the file, are state 3.
    QByteArray bad = sRecords("\x05\x06\x07", 0xF780);
    bad.replace("\nS9", "\nS106F790AABBCC00\nS9"); // checksum 00 is wrong
    EXPECT_EQ(kernel.readText(bad), KernelFile::State::ChecksumError);
    EXPECT_EQ(kernel.buffer().sliced(0x10, 3).toByteArray(),
              QByteArray("\xAA\xBB\xCC")); // stored before the check
    EXPECT_EQ(kernel.readText("S106F790AABB"), KernelFile::State::ChecksumError);

    // A file that opens but holds no S-records (Intel hex, say) is no kernel; one that does not open is
    // state 1.
    EXPECT_EQ(kernel.readText(":020000000102FB\n:00000001FF\n"), KernelFile::State::Ok);
    EXPECT_FALSE(kernel.usable());
    EXPECT_EQ(kernel.read(dir.filePath("missing.a20")), KernelFile::State::OpenFailed);
    EXPECT_EQ(kernel.read(dir.path()), KernelFile::State::OpenFailed); // a folder, as the default path is
    EXPECT_FALSE(kernel.usable());
}

TEST(KernelFile, OnlyAWholeCleanKernelAtItsAddressesIsUsableAndEveryOtherReadSaysWhy) {
    KernelFile kernel;
    const QByteArray code = sampleBinary(1024, 41);
    const QByteArray good = sRecords(code, 0xF780); // S0, 32 records of 32 bytes, S9
    EXPECT_EQ(kernel.readText(good), KernelFile::State::Ok);
    EXPECT_TRUE(kernel.usable());
    EXPECT_EQ(kernel.problem(), "");
    EXPECT_EQ(kernel.kernel().toByteArray(), code);

    const QList<QByteArray> lines = good.split('\n');
    // One record's checksum changed (the 5th record: the S0 and three data records before it).
    QByteArray changed = good;
    const qsizetype fifthEnd = good.indexOf(lines[4]) + lines[4].size();
    changed[fifthEnd - 1] = changed[fifthEnd - 1] == '0' ? '1' : '0';
    // Cut in the middle of its 13th record.
    const QByteArray cut = good.left(good.indexOf(lines[12]) + 20);
    struct Case {
        const char* what;
        QByteArray text;
        KernelFile::State state;
        QString problem;
    };
    const Case cases[] = {
        {"changed checksum", changed, KernelFile::State::ChecksumError, "checksum error in record 5"},
        {"cut", cut, KernelFile::State::ChecksumError, "the file ends inside record 13"},
        {"512 bytes", sRecords(code.left(512), 0xF780), KernelFile::State::Ok,
         "holds 512 of the kernel's 1024 bytes at F780 to FB7F"},
        {"wrong base", sRecords(code, 0xF800), KernelFile::State::Ok,
         "data at address FB80 in record 30, outside the kernel's F780 to FB7F"},
        {"too long", sRecords(code + QByteArray(32, 'x'), 0xF780), KernelFile::State::Ok,
         "data at address FB80 in record 34, outside the kernel's F780 to FB7F"},
        {"Intel hex", ":020000000102FB\n:00000001FF\n", KernelFile::State::Ok, "no S-record data"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kernel.readText(c.text), c.state) << c.what;
        EXPECT_FALSE(kernel.usable()) << c.what;
        EXPECT_EQ(kernel.problem(), c.problem) << c.what;
    }
    QTemporaryDir dir;
    EXPECT_EQ(kernel.read(dir.filePath("missing.a20")), KernelFile::State::OpenFailed);
    EXPECT_EQ(kernel.problem(), "the file could not be opened");
}
