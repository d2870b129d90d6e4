#include "SlotDrawing.h"

#include "GraphModel.h"

#include <QString>
#include <algorithm>
#include <cmath>

namespace tarvo::SlotDrawing {

namespace {
// Marker names of a drawn capture, by state.
constexpr const char* kCheckDrawNames[8] = {"Idle",      "AutoTare", "Triged", "Retriged",
                                            "Measuring", "",         "",       ""};
constexpr const char* kDoseDrawNames[8] = {"Idle",        "Zero",      "Tare",     "Pre fill",
                                           "Coarse fill", "Fine dose", "Inflight", "Calculate dosed"};

int percent(double part, double whole) {
    return whole > 0 ? static_cast<int>(std::lround(part / whole * 100)) : 100;
}
} // namespace

void copyValueCapture(const float* v, int n, int sampleTimeMs, double elapsedMs, bool gross,
                      GraphSlot& slot) {
    for (int i = 1; i <= n; ++i) {
        SampleRecord& r = slot.records[i];
        r.count = static_cast<float>(n);
        (gross ? r.gross : r.net) = v[i];
        // One millisecond less than i steps.
        r.time = static_cast<float>(static_cast<double>(sampleTimeMs) / n * i - 1);
        if (slot.values)
            slot.values[i] = v[i];
    }
    slot.recorded = true;
    slot.count = n;
    slot.kind = RecordingKind::ValueCapture;
    slot.grossField = gross;
    slot.elapsed = elapsedMs;
}

void copyPacketCapture(const SampleRecord* capture, int n, double e, bool dosing, bool gross, bool firstSlot,
                       GraphSlot& slot) {
    for (int i = 1; i <= n; ++i) {
        SampleRecord& r = slot.records[i];
        if (!dosing) {
            r = capture[i];
            r.time = static_cast<float>(e / n * i - 1);
        } else if (firstSlot) {
            r = capture[i];
        } else {
            r.net = capture[i].net;
            // Kept so the slot can be drawn again with its state markers.
            r.state = capture[i].state;
        }
        r.count = static_cast<float>(n);
        if (slot.values)
            slot.values[i] = gross ? capture[i].gross : capture[i].net;
    }
    slot.recorded = true;
    slot.count = n;
    slot.kind = dosing ? RecordingKind::DosingCapture : RecordingKind::CheckWeigherCapture;
    slot.grossField = gross;
    slot.elapsed = e;
}

void plot(const GraphSlot& slot, int number, GraphModel& graph, int& progress) {
    const SampleRecord* r = slot.records;
    const int n = std::clamp(slot.count, 0, kMaxSamples);
    auto value = [&](int k) -> double {
        if (slot.values)
            return slot.values[k];
        return slot.grossField ? r[k].gross : r[k].net;
    };
    // A value capture draws from its second value on; everything else from the first.
    const int first = slot.kind == RecordingKind::ValueCapture ? 2 : 1;
    double vmin = n > 0 ? value(std::min(first, n)) : 0, vmax = vmin;
    for (int k = first; k <= n; ++k) {
        vmin = std::min(vmin, value(k));
        vmax = std::max(vmax, value(k));
    }
    double elapsed = slot.elapsed;
    if (slot.kind != RecordingKind::Run) {
        graph.scaleToCapture(vmin, vmax, elapsed);
    } else {
        // A RUN spans the time of its last sample; before the first step-time tick that is 0.
        elapsed = n > 0 ? r[n].time : 0;
        if (elapsed > 0)
            graph.scaleToCapture(vmin, vmax, elapsed);
        else
            graph.setTimeWindow(0, 10000);
        if (vmax == vmin) // a steady weight still gets a window around it
            graph.setValueWindow(vmin - 1, vmax + 1);
    }
    graph.clearSeries(number);
    const double s = n > 0 ? elapsed / n : 0;
    const char* const* names = slot.kind == RecordingKind::DosingCapture ? kDoseDrawNames : kCheckDrawNames;
    const bool markers =
        slot.kind == RecordingKind::CheckWeigherCapture || slot.kind == RecordingKind::DosingCapture;
    double t = 0;
    for (int k = first; k <= n; ++k) {
        progress = percent(k, n);
        switch (slot.kind) {
        case RecordingKind::Run:
            t = r[k].time;
            break;
        case RecordingKind::ValueCapture:
            t = (k - 1) * s;
            break;
        case RecordingKind::CheckWeigherCapture:
        case RecordingKind::DosingCapture:
            t += s;
            break;
        }
        graph.addSeriesPoint(number, t, value(k));
        if (markers && k < n && r[k + 1].state != r[k].state)
            graph.addMarker(QString::fromLatin1(names[r[k + 1].state & 7]), t);
    }
}

} // namespace tarvo::SlotDrawing
