#include "RecordingMemory.h"

#include <cstdlib>
#include <new>
#include <type_traits>

namespace tarvo {

namespace {
static_assert(std::is_trivially_copyable_v<SampleRecord>, "records are zero-filled, not constructed");
constexpr std::size_t kEntries = kMaxSamples + 1; // numbered from 1; entry 0 is unused

template <typename T> T* reserveZeroed() {
    // calloc maps fresh zero pages for a block this size; they become resident only when written.
    void* block = std::calloc(kEntries, sizeof(T));
    if (!block)
        throw std::bad_alloc();
    return static_cast<T*>(block);
}
} // namespace

RecordingMemory::RecordingMemory() {
    captureValues_ = reserveZeroed<float>();
    capture_ = reserveZeroed<SampleRecord>();
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        slots_[i].records = reserveZeroed<SampleRecord>();
        if (i > 0)
            slots_[i].values = reserveZeroed<float>();
    }
}

RecordingMemory::~RecordingMemory() {
    for (GraphSlot& s : slots_) {
        std::free(s.records);
        std::free(s.values);
    }
    std::free(capture_);
    std::free(captureValues_);
}

void RecordingMemory::clearRecordedFlags() {
    for (GraphSlot& s : slots_)
        s.recorded = false;
}

std::size_t RecordingMemory::reservedBytes() {
    return kEntries * (sizeof(float) * kGraphSlots + sizeof(SampleRecord) * (kGraphSlots + 1));
}

} // namespace tarvo
