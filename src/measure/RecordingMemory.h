#pragma once

#include "SampleRecord.h"

#include <array>
#include <cstddef>

namespace tarvo {

// How a slot's recording was made, which says how it is drawn again.
enum class RecordingKind { ValueCapture = 0, CheckWeigherCapture = 1, DosingCapture = 2, Run = 3 };

// One of the five in-memory recordings "Graph 1" .. "Graph 5".
struct GraphSlot {
    SampleRecord* records = nullptr; // index 1..kMaxSamples
    // Slots 2..5 only, index 1..kMaxSamples: the numbers the scope draws for this slot.
    float* values = nullptr;
    bool recorded = false;
    int count = 0;
    double meanStep = 0; // ms per sample of the last capture copied here
    RecordingKind kind = RecordingKind::ValueCapture;
    bool grossField = false; // the records' drawn value is the gross field, else the net field
    double elapsed = 0;      // ms the capture lasted
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
