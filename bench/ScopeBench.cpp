// One full-view frame of five full recordings, against a bare min/max scan of the same points.
#include "measure/GraphModel.h"
#include "ui/ScopeWidget.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>

using namespace tarvo;

namespace {

GraphModel& fullModel() {
    static std::unique_ptr<GraphModel> model = [] {
        auto m = std::make_unique<GraphModel>();
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-20, 20);
        for (int slot = 1; slot <= kGraphSlots; ++slot)
            for (int i = 0; i < kMaxSamples; ++i) {
                // A load-cell recording in whole counts: slow filling cycles with a little noise.
                const double v = 5000 + 3000 * std::sin(i / (2000.0 + 300 * slot)) + noise(random);
                m->addSeriesPoint(slot, i * 2.0, std::round(v));
            }
        m->setTimeWindow(0, 2.0 * kMaxSamples);
        m->setValueWindow(0, 10000);
        return m;
    }();
    return *model;
}

void BM_ScopeFullViewFrame(benchmark::State& state) {
    GraphModel& model = fullModel();
    ui::ScopeWidget scope(model);
    QImage image(1920, 1080, QImage::Format_RGB32);
    bool shifted = false;
    for (auto _ : state) {
        // A view that moved by a hair: everything is drawn again, the slots included.
        shifted = !shifted;
        model.setTimeWindow(shifted ? 1 : 0, 2.0 * kMaxSamples);
        scope.render(image);
        benchmark::DoNotOptimize(image.constBits());
    }
    model.setTimeWindow(0, 2.0 * kMaxSamples);
    state.SetItemsProcessed(state.iterations() * kGraphSlots * kMaxSamples);
}
BENCHMARK(BM_ScopeFullViewFrame)->Unit(benchmark::kMillisecond);

// A RUN's live-draw frame: five full recordings kept on screen and a live trace that grows by a tick's
// samples (10 ms at 1,000 samples/s) between frames, against the same frames with the live trace alone.
void liveFrames(benchmark::State& state, bool withSlots) {
    GraphModel empty;
    GraphModel& model = withSlots ? fullModel() : empty;
    model.clearLiveTrace();
    model.setTimeWindow(0, 10000);
    model.setValueWindow(0, 10000);
    ui::ScopeWidget scope(model);
    QImage image(1920, 1080, QImage::Format_RGB32);
    scope.render(image);
    double t = 0;
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i, t += 1)
            model.addLivePoint(std::fmod(t, 10000), 5000 + 2000 * std::sin(t / 300));
        scope.render(image);
        benchmark::DoNotOptimize(image.constBits());
    }
    model.clearLiveTrace();
    model.setTimeWindow(0, 2.0 * kMaxSamples);
}

void BM_ScopeLiveFrameWithFiveFullSlots(benchmark::State& state) {
    liveFrames(state, true);
}
BENCHMARK(BM_ScopeLiveFrameWithFiveFullSlots)->Unit(benchmark::kMicrosecond);

void BM_ScopeLiveFrameTraceAlone(benchmark::State& state) {
    liveFrames(state, false);
}
BENCHMARK(BM_ScopeLiveFrameTraceAlone)->Unit(benchmark::kMicrosecond);

void BM_ScopeMinMaxScanBaseline(benchmark::State& state) {
    GraphModel& model = fullModel();
    for (auto _ : state) {
        for (int slot = 1; slot <= kGraphSlots; ++slot) {
            const PointSeries& s = model.series(slot);
            double mn = s[0].value, mx = mn;
            for (const GraphPoint& p : s) {
                mn = p.value < mn ? p.value : mn;
                mx = p.value > mx ? p.value : mx;
            }
            benchmark::DoNotOptimize(mn);
            benchmark::DoNotOptimize(mx);
        }
    }
    state.SetItemsProcessed(state.iterations() * kGraphSlots * kMaxSamples);
}
BENCHMARK(BM_ScopeMinMaxScanBaseline)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
