// Every seed of the command file's fuzzer and every input that ever crashed it, read and scanned as
// "Show CMD" does, in the sanitizer build, so a regression shows without running the fuzzer.
#include "console/CommandFile.h"
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

} // namespace

TEST(CommandFileCorpusReplay, SeedsAndPastCrashesScanSafelyAndTheSeedsStillCoverTheirCases) {
    const QStringList seeds = filesIn("corpus/commandini");
    ASSERT_GE(seeds.size(), 5) << "seed corpus missing";
    for (const QString& path : seeds + filesIn("crashes/commandini")) {
        SCOPED_TRACE(path.toStdString());
        CommandFile file;
        file.load(path);
        const CommandFile::Scan scan = file.scan();
        int previous = 0;
        for (const int number : scan.sections) {
            EXPECT_GT(number, previous);
            EXPECT_LE(number, CommandFile::kSlots);
            previous = number;
            const CommandButton button = file.button(number);
            EXPECT_GE(button.timeoutMs, 1);
            EXPECT_LE(button.timeoutMs, CommandFile::kMaxTimeoutMs);
        }
    }
    // The seeds are only useful to the fuzzer while they reach what they were written for.
    CommandFile file;
    ASSERT_TRUE(file.load(tarvo::test::sourceDir() + "/fuzz/corpus/commandini/gap.ini"));
    EXPECT_EQ(file.scan().sections, (QList<int>{1, 2}));
    ASSERT_TRUE(file.load(tarvo::test::sourceDir() + "/fuzz/corpus/commandini/beyond.ini"));
    EXPECT_EQ(file.scan().refusedSection, 2010);
    ASSERT_TRUE(file.load(tarvo::test::sourceDir() + "/fuzz/corpus/commandini/sample.ini"));
    EXPECT_GE(file.scan().sections.size(), 90);
}
