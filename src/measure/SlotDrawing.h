#pragma once

#include "RecordingMemory.h"

namespace tarvo {

class GraphModel;

// Putting a finished capture into a graph slot, and drawing a slot on the scope from its own records:
// the same drawing after a capture and for "Redraw graph", so a redraw shows exactly what was recorded.
namespace SlotDrawing {

// An ASCII capture of n values (value k at position k): each record gets the count, the value in the
// gross or the net field, and the time (T / n) × i − 1; slots 2..5 also keep the value in their array.
void copyValueCapture(const float* values, int n, int sampleTimeMs, double elapsedMs, bool gross,
                      GraphSlot& slot);
// A status-packet capture of n records. Check-weigher captures copy whole records with evenly spaced
// times; dosing captures copy whole records into slot 1 and the net value (and state) into slots 2..5.
// Slots 2..5 keep the drawn value, gross or net as chosen, in their array.
void copyPacketCapture(const SampleRecord* capture, int n, double elapsedMs, bool dosing, bool gross,
                       bool firstSlot, GraphSlot& slot);
// Draws slot `number` as its recording is drawn: the window from the values and the time the recording
// spans, the points, and for packet captures the state markers. progress follows the points (0..100).
void plot(const GraphSlot& slot, int number, GraphModel& graph, int& progress);

} // namespace SlotDrawing

} // namespace tarvo
