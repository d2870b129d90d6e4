// Every seed of the loader's fuzzer and every input that ever crashed it, run through the loader in
// the sanitizer build, so a regression shows without running the fuzzer.
#include "firmware/FirmwareFile.h"
#include "support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace tarvo;

namespace {

QStringList filesIn(const QString& folder) {
    QStringList paths;
    const QDir dir(tarvo::test::sourceDir() + "/fuzz/" + folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name))
        if (name != ".gitkeep")
            paths << dir.filePath(name);
    return paths;
}

void replay(const QStringList& files) {
    SilentOperator op;
    FirmwareFile loader(op); // one loader for all, as the program keeps one
    for (const QString& path : files) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray bytes = file.readAll();
        const bool loaded = loader.loadBytes(bytes, path);
        EXPECT_EQ(loaded, loader.loadSucceeded()) << path.toStdString();
        EXPECT_EQ(loaded, loader.status().ok() && loader.kind() != FirmwareKind::None) << path.toStdString();
        EXPECT_LE(loader.codeSize(), bytes.size()) << path.toStdString();
        EXPECT_LE(loader.targets().count(), TargetList::kCapacity);
        EXPECT_FALSE(loader.summaryLines().isEmpty());
    }
}

} // namespace

TEST(FirmwareCorpusReplay, SeedsAndPastCrashesLoadSafely) {
    const QStringList seeds = filesIn("corpus/firmware");
    ASSERT_GE(seeds.size(), 5) << "seed corpus missing";
    replay(seeds);
    replay(filesIn("crashes/firmware"));
}

TEST(FirmwareCorpusReplay, SeedsStillReachTheirIntendedOutcomes) {
    // The seeds are only useful to the fuzzer while they cover what they were written for.
    struct Expect {
        const char* name;
        FirmwareKind kind;
        FirmwareStatus::Code code;
    };
    const Expect expected[] = {
        {"tiny.srec", FirmwareKind::SRecord, FirmwareStatus::Code::Ok},
        {"tiny.hex", FirmwareKind::IntelHex, FirmwareStatus::Code::Ok},
        {"lower.hex", FirmwareKind::IntelHex, FirmwareStatus::Code::Ok},
        {"own_hex.qmf", FirmwareKind::Own, FirmwareStatus::Code::Ok},
        {"own_srec.qmf", FirmwareKind::Own, FirmwareStatus::Code::Ok},
        {"own_badformat.qmf", FirmwareKind::Own, FirmwareStatus::Code::UnknownPayloadFormat},
        {"s1_8000.srec", FirmwareKind::SRecord, FirmwareStatus::Code::AddressRangeError},
        {"badsum.hex", FirmwareKind::IntelHex, FirmwareStatus::Code::ChecksumError},
    };
    SilentOperator op;
    FirmwareFile loader(op);
    for (const Expect& e : expected) {
        const QString path = tarvo::test::sourceDir() + "/fuzz/corpus/firmware/" + e.name;
        loader.load(path);
        EXPECT_EQ(loader.kind(), e.kind) << e.name;
        EXPECT_EQ(loader.status().code, e.code) << e.name;
    }
}
