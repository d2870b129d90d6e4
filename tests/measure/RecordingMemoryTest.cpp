#include "MeasureRig.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace tarvo;

namespace {

struct Block {
    const void* data;
    std::size_t size;
};

// Resident bytes of the pages that hold the blocks. The blocks themselves are asked, not the whole
// process: what earlier tests in the same process left with the allocator, or hand back to the system
// while this one runs, must not count.
std::size_t residentBytes(std::initializer_list<Block> blocks) {
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    std::size_t resident = 0;
    for (const Block& b : blocks) {
        const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(b.data) & ~(page - 1);
        const std::uintptr_t end =
            (reinterpret_cast<std::uintptr_t>(b.data) + b.size + page - 1) & ~(page - 1);
        std::vector<unsigned char> pages((end - begin) / page);
        if (mincore(reinterpret_cast<void*>(begin), end - begin, pages.data()) != 0) {
            ADD_FAILURE() << "mincore: " << std::strerror(errno);
            continue;
        }
        for (unsigned char p : pages)
            resident += (p & 1) * page;
    }
    return resident;
}

double mb(std::size_t bytes) {
    return double(bytes) / (1 << 20);
}

} // namespace

TEST(RecordingMemoryTest, ReservedMemoryCostsResidentPagesOnlyOnceUsed) {
    EXPECT_GT(RecordingMemory::reservedBytes(), std::size_t(120) << 20);
    test::MeasureRig rig;
    constexpr std::size_t entries = kMaxSamples + 1;
    constexpr std::size_t records = entries * sizeof(SampleRecord);
    constexpr std::size_t values = entries * sizeof(float);
    constexpr std::size_t points = kMaxSamples * sizeof(GraphPoint);
    RecordingMemory& m = rig.memory;
    // What a RUN recording into slot 1 writes, and what it leaves alone.
    auto run = [&] {
        return residentBytes({{m.slot(1).records, records}, {rig.graph.liveTrace().begin(), points}});
    };
    auto rest = [&] {
        std::size_t sum = residentBytes({{m.captureValues(), values}, {m.capture(), records}});
        for (int s = 2; s <= kGraphSlots; ++s)
            sum += residentBytes({{m.slot(s).records, records}, {m.slot(s).values, values}});
        for (int s = 1; s <= kGraphSlots; ++s)
            sum += residentBytes({{rig.graph.series(s).begin(), points}});
        return sum;
    };
    // Some 180 MB are reserved with the plotted series; an idle program holds a page or so of each block.
    const std::size_t idle = run() + rest();
    EXPECT_LT(idle, std::size_t(1) << 20);

    rig.acq->runClicked();
    rig.muteDevice();
    rig.comm->streamMatcher().setStartString("N");
    for (int i = 0; i < kMaxSamples; ++i)
        rig.dispatcher->dispatch("+12.5");
    const std::size_t written = run();
    const std::size_t untouched = rest();
    std::printf("resident recording memory: idle %.1f MB, after a 500,000-sample recording %.1f MB in slot 1 "
                "and the live trace, %.1f MB in the rest\n",
                mb(idle), mb(written), mb(untouched));
    // A RUN recording writes one slot (20 MB) and the live trace (8 MB), nothing more.
    EXPECT_GE(written, records + points - (std::size_t(1) << 20));
    EXPECT_LT(untouched, std::size_t(1) << 20);
    EXPECT_EQ(rig.memory.slot(1).count, kMaxSamples);
    EXPECT_FALSE(rig.memory.slot(2).recorded);
}
