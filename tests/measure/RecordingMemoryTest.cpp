#include "MeasureRig.h"

#include <QFile>
#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tarvo;

namespace {

// Resident memory of this process in MB, from /proc/self/statm.
double residentMb() {
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024 * 1024) : -1;
}

} // namespace

TEST(RecordingMemoryTest, ReservedMemoryCostsResidentPagesOnlyOnceUsed) {
    EXPECT_GT(RecordingMemory::reservedBytes(), std::size_t(120) << 20);
    const double before = residentMb();
    ASSERT_GT(before, 0);
    test::MeasureRig rig;
    const double idle = residentMb();
    rig.acq->RUNClick();
    rig.muteDevice();
    rig.comm->dpGross().setStartString("N");
    for (int i = 0; i < kMaxSamples; ++i)
        rig.dispatcher->dispatch("+12.5");
    const double full = residentMb();
    std::printf("resident memory: before %.1f MB, idle with recording memory %.1f MB, "
                "after a 500,000-sample recording %.1f MB\n",
                before, idle, full);
    // About 130 MB are reserved; an idle program holds only a little of it.
    EXPECT_LT(idle - before, 20.0);
    // A RUN recording writes one slot (20 MB) and the live trace (8 MB).
    EXPECT_GT(full - idle, 20.0);
    EXPECT_EQ(rig.memory.slot(1).count, kMaxSamples);
    EXPECT_FALSE(rig.memory.slot(2).recorded);
}
