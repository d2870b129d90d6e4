#include "firmware/FirmwareFile.h"
#include "FirmwareFiles.h"
#include "firmware/Crc32.h"
#include "firmware/KernelFile.h"
#include "support/FakeOperator.h"
#include "support/UnheldPipe.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;
using Code = FirmwareStatus::Code;

namespace {

class FirmwareFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const QString& name) const { return dir.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) const {
        const QString p = path(name);
        EXPECT_TRUE(writeFile(p, bytes));
        return p;
    }
    // The binary written by an outside tool into one of the text formats, or skip when it is missing.
    QString convert(const QString& tool, const QStringList& args) {
        QString error;
        if (!runTool(tool, args, &error)) {
            if (error.endsWith("not installed"))
                return {};
            ADD_FAILURE() << error.toStdString();
        }
        const qsizetype out = args.indexOf("-o"); // srec_cat names its output after -o, objcopy last
        return out >= 0 ? args.value(out + 1) : args.value(args.size() - 1);
    }
    QByteArray imageAt(int start, int length) const {
        return loader.image().sliced(start, length).toByteArray();
    }

    QTemporaryDir dir;
    FakeOperator op;
    FirmwareFile loader{op};
};

#define SKIP_WITHOUT(tool)                                                                                   \
    if (QStandardPaths::findExecutable(tool).isEmpty())                                                      \
    GTEST_SKIP() << tool " not installed"

} // namespace

TEST(Crc32Test, MatchesTheBitwiseDefinitionAndStandardCrcForUniformBlocks) {
    Crc32 crc;
    // Blocks of one repeated byte are the only ones where it equals the standard CRC-32.
    EXPECT_EQ(crc.checksum("a"), 0xE8B7BE43u);
    EXPECT_EQ(crc.checksum("aaa"), 0xF007732Du);
    // Only the first byte counts, however the rest of the block looks.
    EXPECT_EQ(crc.checksum("abc"), crc.checksum("aaa"));
    EXPECT_EQ(crc.checksum(""), 0u);
    const QByteArray samples[] = {QByteArray("QM\x01\x02", 4), sampleBinary(24), sampleBinary(1000, 7),
                                  QByteArray(1, '\0')};
    for (const QByteArray& block : samples)
        EXPECT_EQ(crc.checksum(block), qmChecksum(block)) << block.toHex().toStdString();
    EXPECT_EQ(crc.table()[1], 0x77073096u);
    EXPECT_EQ(crc.table()[255], 0x2D02EF8Du);
}

TEST(TargetListTest, KeepsAtMost128EntriesAsEightUpperCaseDigits) {
    TargetList list;
    list.add(0x0001A2B3);
    list.add(0x10);
    list.add(0xDEADBEEF);
    EXPECT_EQ(list.texts(), QStringList({"0001A2B3", "00000010", "DEADBEEF"}));
    EXPECT_EQ(list.at(2).value, 0xDEADBEEFu);
    for (std::uint32_t i = 0; i < 200; ++i)
        list.add(i);
    EXPECT_EQ(list.count(), TargetList::kCapacity);
    EXPECT_EQ(list.at(127).value, 124u); // the three first entries, then 0..124
    list.clear();
    EXPECT_EQ(list.count(), 0);
}

TEST_F(FirmwareFileTest, StartsWithAnErasedImageAndDefaultVersion) {
    EXPECT_EQ(loader.image().size(), 65536);
    EXPECT_TRUE(
        std::all_of(loader.image().begin(), loader.image().end(), [](char c) { return c == char(0xFF); }));
    EXPECT_EQ(loader.softwareVersion(), 0x01010101u);
    EXPECT_EQ(loader.softwareEdition(), 1);
    EXPECT_EQ(loader.kind(), FirmwareKind::None);
    EXPECT_EQ(loader.status().code, Code::NothingLoaded);
    EXPECT_FALSE(loader.loadSucceeded());
}

TEST_F(FirmwareFileTest, LoadsSRecordsWrittenBySrecCatAndObjcopy) {
    SKIP_WITHOUT("srec_cat");
    SKIP_WITHOUT("objcopy");
    const QByteArray binary = sampleBinary(300);
    const QString bin = write("fw.bin", binary);

    // objcopy: S1 records from address 0 and a closing S9.
    const QString fromZero = convert("objcopy", {"-I", "binary", "-O", "srec", bin, path("zero.srec")});
    ASSERT_TRUE(readFile(fromZero).contains("\nS9"));
    EXPECT_TRUE(loader.load(fromZero));
    EXPECT_EQ(loader.kind(), FirmwareKind::SRecord);
    EXPECT_EQ(loader.memStart(), 0);
    EXPECT_EQ(loader.memEnd(), 300);
    EXPECT_EQ(imageAt(0, 300), binary);
    EXPECT_EQ(loader.image().at(300), char(0xFF));
    EXPECT_EQ(loader.codeSize(), readFile(fromZero).size());
    EXPECT_EQ(loader.status().text(), "ok");

    // srec_cat ends without an S9 record; running off the end is a normal end.
    const QString shifted =
        convert("srec_cat", {bin, "-binary", "-offset", "0x1234", "-o", path("shifted.srec"), "-motorola"});
    ASSERT_FALSE(readFile(shifted).contains("S9"));
    EXPECT_TRUE(loader.load(shifted));
    EXPECT_EQ(loader.memStart(), 0x1234);
    EXPECT_EQ(loader.memEnd(), 0x1234 + 300);
    EXPECT_EQ(imageAt(0x1234, 300), binary);
    // The earlier load's bytes are gone: each load starts from an erased image.
    EXPECT_EQ(imageAt(0, 300), QByteArray(300, char(0xFF)));
    EXPECT_TRUE(op.messageBoxes().isEmpty()) << op.events.join('\n').toStdString();
}

TEST_F(FirmwareFileTest, LoadsIntelHexWrittenBySrecCatAndObjcopy) {
    SKIP_WITHOUT("srec_cat");
    SKIP_WITHOUT("objcopy");
    const QByteArray binary = sampleBinary(500, 99);
    const QString bin = write("fw.bin", binary);

    const QString bySrecCat =
        convert("srec_cat", {bin, "-binary", "-offset", "0x7E00", "-o", path("a.hex"), "-intel"});
    EXPECT_TRUE(loader.load(bySrecCat));
    EXPECT_EQ(loader.kind(), FirmwareKind::IntelHex);
    EXPECT_EQ(loader.memStart(), 0x7E00);
    EXPECT_EQ(loader.memEnd(), 0x7E00 + 500);
    EXPECT_EQ(imageAt(0x7E00, 500), binary);

    const QString byObjcopy = convert(
        "objcopy", {"-I", "binary", "-O", "ihex", "--change-addresses", "0x4000", bin, path("b.hex")});
    EXPECT_TRUE(loader.load(byObjcopy));
    EXPECT_EQ(loader.memStart(), 0x4000);
    EXPECT_EQ(loader.memEnd(), 0x4000 + 500);
    EXPECT_EQ(imageAt(0x4000, 500), binary);
    EXPECT_TRUE(loader.message().isEmpty());
    EXPECT_EQ(loader.targets().count(), 0);
    EXPECT_TRUE(op.messageBoxes().isEmpty()) << op.events.join('\n').toStdString();
}

TEST_F(FirmwareFileTest, ParsesLowerCaseHexAsItsTrueValues) {
    SKIP_WITHOUT("srec_cat");
    const QByteArray binary = sampleBinary(200, 3);
    const QString bin = write("fw.bin", binary);
    for (const char* format : {"-motorola", "-intel"}) {
        const QString upper =
            convert("srec_cat", {bin, "-binary", "-offset", "0x100", "-o", path("u"), format});
        const QByteArray lower = readFile(upper).toLower().replace("s", "S");
        ASSERT_NE(lower, readFile(upper));
        FirmwareFile fresh(op);
        EXPECT_TRUE(fresh.loadBytes(lower, "lower")) << format << ": " << fresh.status().text().toStdString();
        EXPECT_EQ(fresh.image().sliced(0x100, 200).toByteArray(), binary) << format;
        EXPECT_EQ(fresh.memEnd(), 0x100 + 200);
    }
    EXPECT_TRUE(op.messageBoxes().isEmpty()) << op.events.join('\n').toStdString();
}

TEST_F(FirmwareFileTest, SRecordDataAt0x8000EndsTheParseAsAnError) {
    const QString file = write("high.srec", "S1047FF0117B\nS1058000AABB15\nS1047FF12269\nS9030000FC\n");
    EXPECT_FALSE(loader.load(file));
    EXPECT_FALSE(loader.loadSucceeded());
    EXPECT_EQ(loader.kind(), FirmwareKind::SRecord);
    EXPECT_EQ(loader.image().at(0x7FF0), char(0x11));
    EXPECT_EQ(loader.image().at(0x8000), char(0xFF));
    EXPECT_EQ(loader.image().at(0x7FF1), char(0xFF)); // the record after the error is not read
    EXPECT_EQ(loader.status().code, Code::AddressRangeError);
    EXPECT_EQ(loader.status().line, 2);
    EXPECT_EQ(loader.status().offset, 13);
    EXPECT_EQ(op.events, QStringList{"box[Firmware File Error]: " + file +
                                     ": data outside the programmable addresses 0000 to 7FFF at line 2, "
                                     "byte 13"});
}

TEST_F(FirmwareFileTest, IntelHexOutsideTheProgrammableAddressesOrWithoutDataIsRefused) {
    // What the programming pass could not send is refused at the load, never dropped without a word.
    struct Case {
        const char* name;
        QByteArray text;
        Code code;
    };
    const QByteArray kilobytes40 = sampleBinary(40 * 1024, 8);
    QByteArray from0;
    for (int at = 0; at < kilobytes40.size(); at += 32) {
        // Intel hex of 32-byte records from address 0, written here so the test needs no outside tool.
        QByteArray bytes;
        bytes.append(char(32));
        bytes.append(char((at >> 8) & 0xFF));
        bytes.append(char(at & 0xFF));
        bytes.append('\0');
        bytes.append(kilobytes40.mid(at, 32));
        quint8 sum = 0;
        for (const char b : bytes)
            sum = quint8(sum + quint8(b));
        bytes.append(char(quint8(0x100 - sum)));
        from0 += ':' + bytes.toHex().toUpper() + '\n';
    }
    from0 += ":00000001FF\n";
    const Case cases[] = {
        {"high.hex", ":02C0000011220B\n:00000001FF\n", Code::AddressRangeError},
        {"across.hex", ":027FFF0011224D\n:00000001FF\n", Code::AddressRangeError}, // 7FFF and 8000
        {"40k.hex", from0, Code::AddressRangeError},
        {"linear.hex", ":020000040001F9\n:020000001122CB\n:00000001FF\n", Code::AddressRangeError},
        {"empty.hex", ":00000001FF\n", Code::NoData},
        {"empty.srec", "S00600004844521B\nS9030000FC\n", Code::NoData},
    };
    for (const Case& c : cases) {
        op.clear();
        const QString file = write(c.name, c.text);
        EXPECT_FALSE(loader.load(file)) << c.name;
        EXPECT_FALSE(loader.loadSucceeded()) << c.name;
        EXPECT_EQ(loader.status().code, c.code) << c.name;
        ASSERT_EQ(op.messageBoxes().size(), 1) << c.name;
        EXPECT_TRUE(op.messageBoxes().first().startsWith(file + ": " +
                                                         (c.code == Code::NoData
                                                              ? QString("file holds no data to program")
                                                              : QString("data outside the programmable "
                                                                        "addresses 0000 to 7FFF at line "))))
            << op.messageBoxes().first().toStdString();
    }
    // The 40 KiB file's error names the first record beyond 7FFF: line 1025.
    loader.loadBytes(from0, "40k.hex");
    EXPECT_EQ(loader.status().line, 1025);
    // The same bytes cut at 32 KiB are the whole device.
    const qsizetype at32k = from0.indexOf(":20800000");
    ASSERT_GT(at32k, 0);
    EXPECT_TRUE(loader.loadBytes(from0.left(at32k) + ":00000001FF\n", "32k.hex"));
    EXPECT_EQ(imageAt(0, 0x8000), kilobytes40.left(0x8000));
}

TEST_F(FirmwareFileTest, ASecondLoadStartsFromAnErasedImage) {
    const QByteArray first = sampleBinary(256, 1);
    const QByteArray second = sampleBinary(128, 2);
    ASSERT_TRUE(loader.loadBytes(sRecords(first, 0x0000), "first.s19"));
    ASSERT_TRUE(loader.loadBytes(sRecords(second, 0x0080), "second.s19"));
    EXPECT_EQ(imageAt(0, 0x80), QByteArray(0x80, char(0xFF)));
    EXPECT_EQ(imageAt(0x80, 0x80), second);
    EXPECT_EQ(imageAt(0x100, FirmwareFile::kImageSize - 0x100),
              QByteArray(FirmwareFile::kImageSize - 0x100, char(0xFF)));
    // A load that fails leaves no earlier file's bytes behind either.
    EXPECT_FALSE(loader.loadBytes(":0400000001020304F0\n", "bad.hex"));
    EXPECT_EQ(loader.image().count(char(0xFF)), FirmwareFile::kImageSize);
}

TEST_F(FirmwareFileTest, ReportsAWrongChecksumWithTheRecordsPosition) {
    SKIP_WITHOUT("srec_cat");
    const QByteArray binary = sampleBinary(96, 5);
    const QString bin = write("fw.bin", binary);
    for (const char* format : {"-motorola", "-intel"}) {
        op.clear();
        const QString good = convert("srec_cat", {bin, "-binary", "-o", path("g"), format});
        QByteArray text = readFile(good);
        // Line 3 holds the second data record in both formats (S0 / extended address record first).
        qsizetype lineStart = 0;
        for (int i = 0; i < 2; ++i)
            lineStart = text.indexOf('\n', lineStart) + 1;
        const qsizetype lineEnd = text.indexOf('\n', lineStart);
        const qsizetype last = text.at(lineEnd - 1) == '\r' ? lineEnd - 2 : lineEnd - 1;
        text[last] = text.at(last) == '0' ? '1' : '0';
        const QString bad = write("bad", text);

        FirmwareFile fresh(op);
        EXPECT_FALSE(fresh.load(bad));
        EXPECT_FALSE(fresh.loadSucceeded());
        EXPECT_EQ(fresh.status().code, Code::ChecksumError) << format;
        EXPECT_EQ(fresh.status().line, 3);
        EXPECT_EQ(fresh.status().offset, lineStart);
        const QString expected = QString("checksum error at line 3, byte %1").arg(lineStart);
        EXPECT_EQ(fresh.status().text(), expected);
        EXPECT_EQ(op.events, QStringList{"box[Firmware File Error]: " + bad + ": " + expected});
        // What came before the bad record stays in the image.
        EXPECT_EQ(fresh.image().sliced(0, 32).toByteArray(), binary.left(32)) << format;
    }
}

TEST_F(FirmwareFileTest, RecordsCutOffOrWithStrayCharactersAreErrors) {
    EXPECT_FALSE(loader.loadBytes(":0400000001020304F2\n:0400040005", "cut.hex"));
    EXPECT_EQ(loader.status().code, Code::TruncatedRecord);
    EXPECT_EQ(loader.status().offset, 20);
    EXPECT_EQ(loader.status().line, 2);
    EXPECT_EQ(loader.memEnd(), 5); // the byte read before the cut was written

    EXPECT_FALSE(loader.loadBytes("S1050000ABCD82\nS1050002AB G4A\n", "stray.srec"));
    EXPECT_EQ(loader.status().code, Code::BadCharacter);
    EXPECT_EQ(loader.status().text(), "invalid character in record at line 2, byte 15");

    // Without an end record the text simply ends.
    EXPECT_TRUE(loader.loadBytes(":0400000001020304F2\n", "noend.hex"));
    EXPECT_EQ(loader.memEnd(), 4);
}

TEST_F(FirmwareFileTest, RecognitionLooksOnlyAtTheFirst15Bytes) {
    const QByteArray records = ":0400000001020304F2\n:00000001FF\n";
    const QString commented = write("commented.hex", "; build 42 for the MXR line\n" + records);
    EXPECT_FALSE(loader.load(commented));
    EXPECT_EQ(loader.kind(), FirmwareKind::None);
    EXPECT_EQ(loader.status().code, Code::NotRecognised);
    EXPECT_EQ(op.events, QStringList({"box[Unknown Format]: The source file format was not recognized!",
                                      "box[Unknown File type]: " + commented}));

    // A zero byte ends the search early.
    op.clear();
    EXPECT_FALSE(loader.loadBytes(QByteArray("\0", 1) + records, "zero"));
    EXPECT_EQ(loader.kind(), FirmwareKind::None);

    op.clear();
    EXPECT_TRUE(loader.loadBytes("\n\n" + records, "late.hex"));
    EXPECT_EQ(loader.kind(), FirmwareKind::IntelHex);
    EXPECT_TRUE(op.events.isEmpty());
}

TEST_F(FirmwareFileTest, RecognitionFailuresShowTheirFormatErrors) {
    EXPECT_FALSE(loader.loadBytes("S1050000ABCD00\n", "bad.srec"));
    EXPECT_EQ(op.events, QStringList({"box[Format Error]: The source file may not contain S-RECORDS",
                                      "box[Unknown Format]: The source file format was not recognized!",
                                      "box[Unknown File type]: bad.srec"}));
    op.clear();
    EXPECT_FALSE(loader.loadBytes(":0400000001020304FF\n", "bad.hex"));
    EXPECT_EQ(op.events, QStringList({"box[Format Error]: The source file may not contain Intel-Hex records",
                                      "box[Unknown Format]: The source file format was not recognized!",
                                      "box[Unknown File type]: bad.hex"}));
    // An "S" not followed by 0 or 1 skips the S-record test without a message.
    op.clear();
    EXPECT_TRUE(loader.loadBytes("Some:0400000001020304F2\n", "s.hex"));
    EXPECT_EQ(loader.kind(), FirmwareKind::IntelHex);
    EXPECT_TRUE(op.events.isEmpty());
    // Recognition takes lower-case pairs and a record running off the end fails it.
    op.clear();
    EXPECT_FALSE(loader.loadBytes("S10500", "short.srec"));
    EXPECT_EQ(op.messageBoxes().first(), "The source file may not contain S-RECORDS");
}

TEST_F(FirmwareFileTest, LoadsTheOwnFormatWithTargetsMessageAndVersion) {
    OwnFile own;
    own.payload = ":0400100001020304E2\r\n:00000001FF\r\n";
    own.targets = {0x0001A2B3, 0x10};
    own.message = "Release 2.1\r\nfor MXR";
    own.version = 0xFEDCBA98;
    own.edition = 513;
    const QByteArray file = own.build();
    const QString p = write("fw.qmf", file);

    EXPECT_TRUE(loader.load(p));
    EXPECT_EQ(loader.kind(), FirmwareKind::Own);
    EXPECT_EQ(loader.targets().texts(), QStringList({"0001A2B3", "00000010"}));
    EXPECT_EQ(loader.message(), "Release 2.1\r\nfor MXR");
    EXPECT_EQ(loader.softwareVersion(), 0xFEDCBA98u);
    EXPECT_EQ(loader.softwareEdition(), 513);
    EXPECT_EQ(loader.memStart(), 0x10);
    EXPECT_EQ(loader.memEnd(), 0x14);
    EXPECT_EQ(imageAt(0x10, 4), QByteArray("\x01\x02\x03\x04"));
    // Only the payload text stays in the buffer.
    EXPECT_EQ(loader.codeSize(), own.payload.size());
    EXPECT_EQ(loader.buffer().toByteArray(), own.payload);
    EXPECT_TRUE(op.events.isEmpty()) << op.events.join('\n').toStdString();
    EXPECT_EQ(loader.summaryLines(),
              QStringList({"File: " + p, "Kind: Quorra & Mell firmware (3)", "Version: 4275878552",
                           "Edition: 513", "Addresses: 0010 to 0014", "Status: ok", "Message: Release 2.1",
                           "  for MXR", "Targets: 0001A2B3, 00000010"}));

    // A second load shows only its own entries; an S-record payload works the same way.
    OwnFile second;
    second.format = 2;
    second.payload = "S1050020ABCD62\nS9030000FC\n";
    second.targets = {0xCAFE};
    EXPECT_TRUE(loader.loadBytes(second.build(), "second.qmf"));
    EXPECT_EQ(loader.targets().texts(), QStringList{"0000CAFE"});
    EXPECT_TRUE(loader.message().isEmpty());
    EXPECT_EQ(imageAt(0x20, 2), QByteArray("\xAB\xCD"));
    EXPECT_EQ(imageAt(0x10, 4), QByteArray(4, char(0xFF))); // the first file's bytes are gone

    // Plain formats clear what the own format brought.
    EXPECT_TRUE(loader.loadBytes(":0400000001020304F2\n:00000001FF\n", "plain.hex"));
    EXPECT_EQ(loader.targets().count(), 0);
    EXPECT_EQ(loader.memStart(), 0);
}

TEST_F(FirmwareFileTest, OwnFormatWithBadChecksumsIsNotRecognisedButSetsTheVersion) {
    OwnFile own;
    own.payload = ":00000001FF\n";
    own.version = 42;
    own.edition = 9;
    QByteArray file = own.build();
    file += '\n'; // the checksum sees the payload's first byte and length only
    EXPECT_FALSE(loader.loadBytes(file, "x.qmf"));
    EXPECT_EQ(loader.kind(), FirmwareKind::None);
    EXPECT_EQ(loader.softwareVersion(), 42u);
    EXPECT_EQ(loader.softwareEdition(), 9);
    EXPECT_EQ(op.events, QStringList({"box[Unknown Format]: The source file format was not recognized!",
                                      "box[Unknown File type]: x.qmf"}));

    file = own.build();
    file[24] = char(file[24] ^ 1); // header checksum
    EXPECT_FALSE(loader.loadBytes(file, "y.qmf"));
    EXPECT_EQ(loader.kind(), FirmwareKind::None);

    // A payload offset past the end cannot be checked at all.
    file = own.build();
    putLe16(file, 22, 0xF000);
    EXPECT_FALSE(loader.loadBytes(OwnFile::seal(file), "z.qmf"));
    EXPECT_EQ(loader.status().code, Code::NotRecognised);
}

TEST_F(FirmwareFileTest, OwnFormatHeaderPointingOutsideTheFileIsRefused) {
    OwnFile own;
    own.payload = ":0100000011EE\n";
    own.targets = {1, 2};
    own.message = "msg";
    const QByteArray good = own.build(); // list at 32, message at 40, payload at 44
    struct Case {
        std::uint16_t listAt, messageAt;
        Code code;
        QString text;
    };
    const Case cases[] = {
        {32, 0x7000, Code::MessageOutsideFile, "message text offset 28672 outside the file"},
        {41, 40, Code::TargetListMisplaced, "target list offset 41 beyond the message text offset"},
        {34, 40, Code::TargetListLength, "target list length 6 not a multiple of 4"},
        {53, 57, Code::MessageUnterminated, "message text without terminating zero"},
    };
    for (const Case& c : cases) {
        op.clear();
        QByteArray file = good;
        putLe16(file, 18, c.listAt);
        putLe16(file, 20, c.messageAt);
        EXPECT_FALSE(loader.loadBytes(OwnFile::seal(file), "h.qmf")) << c.text.toStdString();
        EXPECT_EQ(loader.kind(), FirmwareKind::Own);
        EXPECT_EQ(loader.status().code, c.code);
        EXPECT_EQ(loader.status().text(), c.text);
        EXPECT_EQ(loader.targets().count(), 0);
        EXPECT_TRUE(loader.message().isEmpty());
        EXPECT_EQ(op.events, QStringList{"box[Firmware File Error]: h.qmf: " + c.text});
        EXPECT_EQ(loader.image().at(0), char(0xFF)); // the payload was not parsed
    }

    op.clear();
    own.format = 5;
    EXPECT_FALSE(loader.loadBytes(own.build(), "f.qmf"));
    EXPECT_EQ(loader.status().text(), "unknown payload format 5");
    EXPECT_EQ(op.events, QStringList{"box[Unknown Quorra & Mell Firmware File Format]: f.qmf"});
    EXPECT_EQ(loader.codeSize(), own.payload.size());
}

// A firmware or kernel file named by the operator (chosen, dropped on the window, given to the CLI) may
// be a pipe, a folder or a device: each is refused at once with its reason, and nothing waits on it.
TEST_F(FirmwareFileTest, APipeAFolderOrADeviceIsRefusedAtOnceWithItsReason) {
    const test::UnheldPipe pipe(path("pipe.qmf"));
    struct Case {
        QString path;
        QString reason;
    };
    const Case cases[] = {{pipe.path(), "Is a pipe, not a regular file"},
                          {dir.path(), "Is a directory"},
                          {"/dev/zero", "Is a character device, not a regular file"}};
    for (const Case& c : cases) {
        op.clear();
        EXPECT_FALSE(pipe.run([&] { return loader.load(c.path); })) << c.path.toStdString();
        EXPECT_EQ(loader.status().code, Code::OpenFailed);
        EXPECT_EQ(op.events, QStringList{"box[Can't Open File]: " + c.reason});

        KernelFile kernel;
        EXPECT_EQ(pipe.run([&] { return kernel.read(c.path); }), KernelFile::State::OpenFailed);
        EXPECT_FALSE(kernel.usable());
    }
}

TEST_F(FirmwareFileTest, RefusesFilesThatCannotBeReadOrDoNotFit) {
    EXPECT_FALSE(loader.load(path("missing.qmf")));
    EXPECT_EQ(loader.status().code, Code::OpenFailed);
    EXPECT_EQ(op.events, QStringList{"box[Can't Open File]: No such file or directory"});

    op.clear();
    QByteArray big(FirmwareFile::kBufferSize + 1, ' ');
    const QString bigFile = write("big.hex", big);
    EXPECT_FALSE(loader.load(bigFile));
    EXPECT_EQ(loader.status().code, Code::TooLarge);
    EXPECT_EQ(op.events,
              QStringList{"box[Firmware File Error]: " + bigFile + ": file larger than 1048576 bytes"});
    EXPECT_FALSE(loader.loadBytes(big, "big"));
    EXPECT_EQ(loader.status().code, Code::TooLarge);

    // Exactly the buffer's size fits: a full buffer of records ends at its last byte.
    op.clear();
    big = ":0100000042BD\n";
    big += QByteArray(FirmwareFile::kBufferSize - big.size(), '\n');
    EXPECT_TRUE(loader.loadBytes(big, "full"));
    EXPECT_EQ(loader.codeSize(), FirmwareFile::kBufferSize);

    op.clear();
    EXPECT_FALSE(loader.load(write("empty", {})));
    EXPECT_EQ(loader.status().code, Code::Empty);
    EXPECT_TRUE(op.events.isEmpty());
}
