#pragma once

#include "SampleRecord.h"

#include <array>
#include <cstddef>

namespace tarvo {

// One of the five in-memory recordings "Graph 1" .. "Graph 5".
struct GraphSlot {
    SampleRecord* records = nullptr; // index 1..kMaxSamples
    float* values = nullptr;         // slots 2..5 only, index 1..kMaxSamples
    bool recorded = false;
    int count = 0;
    double meanStep = 0; // ms per sample of the last capture copied here
};

// Every recording buffer, reserved once for the program's life and never resized. The memory is zeroed
// by the allocator, so pages that no recording touches cost no resident memory (an all-zero
// SampleRecord is a default one).
class RecordingMemory {
public:
    RecordingMemory();
    ~RecordingMemory();
    RecordingMemory(const RecordingMemory&) = delete;
    RecordingMemory& operator=(const RecordingMemory&) = delete;

    float* captureValues() { return captureValues_; }
    SampleRecord* capture() { return capture_; }
    GraphSlot& slot(int number) { return slots_[static_cast<std::size_t>(number - 1)]; }
    const GraphSlot& slot(int number) const { return slots_[static_cast<std::size_t>(number - 1)]; }

    // "Clear all graph's" and RESET: the recordings stay in memory but count as never drawn.
    void clearRecordedFlags();
    // Bytes reserved in all (about 130 MB).
    static std::size_t reservedBytes();

private:
    float* captureValues_ = nullptr;
    SampleRecord* capture_ = nullptr;
    std::array<GraphSlot, kGraphSlots> slots_{};
};

} // namespace tarvo
