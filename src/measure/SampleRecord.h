#pragma once

#include <cstdint>

namespace tarvo {

// One sample of every recording buffer, field for field as the recordings keep it.
struct SampleRecord {
    bool noMotion = false;    // status bit 6
    bool overRange = false;   // status bit 5
    bool underRange = false;  // status bit 4
    bool dosingState[8] = {}; // flag k set when the state equals k
    std::int32_t state = 0;   // status byte AND 7
    float gross = 0;
    float net = 0;
    float time = 0;          // ms from the start of the recording
    float count = 0;         // sample count (see the recording rules)
    bool checkState[5] = {}; // check-weigher flag k set when the state equals k
};

// Capacity of every recording: samples are numbered 1..kMaxSamples.
inline constexpr int kMaxSamples = 500000;
inline constexpr int kGraphSlots = 5;

} // namespace tarvo
