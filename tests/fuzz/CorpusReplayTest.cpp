// Every stored input of every fuzz target (its seeds in fuzz/corpus/<target>/ and what once made it fail
// in fuzz/crashes/<target>/) run through the target's own entry in the sanitizer build. An entry aborts
// when a property it checks does not hold, and the sanitizers stop at any bad read, so a regression
// shows in CI without running a fuzzer. fuzz/Targets.cmake lists the targets.
#include "FuzzEntry.h"
#include "FuzzTargetList.h"
#include "support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <ostream>

namespace {

#define TARVO_FUZZ_TARGET(name) TARVO_FUZZ_ENTRY(name);
TARVO_FUZZ_TARGETS
#undef TARVO_FUZZ_TARGET

struct FuzzTarget {
    const char* name;
    int (*entry)(const std::uint8_t*, std::size_t);
};

// Test listings name the target, not its address.
[[maybe_unused]] void PrintTo(const FuzzTarget& target, std::ostream* out) {
    *out << target.name;
}

#define TARVO_FUZZ_TARGET(name) FuzzTarget{#name, &tarvoFuzz_##name},
const FuzzTarget kTargets[] = {TARVO_FUZZ_TARGETS};
#undef TARVO_FUZZ_TARGET

QStringList filesIn(const QString& folder) {
    QStringList paths;
    const QDir dir(tarvo::test::sourceDir() + "/fuzz/" + folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name))
        if (name != QLatin1String(".gitkeep"))
            paths << dir.filePath(name);
    return paths;
}

class CorpusReplay : public ::testing::TestWithParam<FuzzTarget> {};

} // namespace

TEST_P(CorpusReplay, EveryStoredInputPassesTheTargetsChecks) {
    const FuzzTarget& target = GetParam();
    const QStringList seeds = filesIn(QStringLiteral("corpus/") + target.name);
    ASSERT_FALSE(seeds.isEmpty()) << "no seeds in fuzz/corpus/" << target.name;
    for (const QString& path : seeds + filesIn(QStringLiteral("crashes/") + target.name)) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray bytes = file.readAll();
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(target.entry(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size())),
                  0);
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusReplay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<FuzzTarget>& target) {
                             return std::string(target.param.name);
                         });
