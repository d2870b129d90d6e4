// The scope's frames against a bare min/max scan of the same points: a full redraw (the view zoomed,
// panned or turned a page, everything drawn again) of five recordings of 10,000, 100,000 and 500,000
// points each, on a 1920 x 1080 screen at normal and at twice the density, and a RUN's live frame.
#include "measure/GraphModel.h"
#include "ui/ScopeWidget.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>

using namespace tarvo;

namespace {

// Five recordings of the given number of points, 2 ms apart, shared by every benchmark that needs them.
GraphModel& recordings(int points) {
    static std::map<int, std::unique_ptr<GraphModel>> models;
    auto& model = models[points];
    if (!model) {
        model = std::make_unique<GraphModel>();
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-20, 20);
        for (int slot = 1; slot <= kGraphSlots; ++slot)
            for (int i = 0; i < points; ++i) {
                // A load-cell recording in whole counts: slow filling cycles with a little noise.
                const double v = 5000 + 3000 * std::sin(i / (2000.0 + 300 * slot)) + noise(random);
                model->addSeriesPoint(slot, i * 2.0, std::round(v));
            }
        model->setTimeWindow(0, 2.0 * points);
        model->setValueWindow(0, 10000);
    }
    return *model;
}

void BM_ScopeFullRedraw(benchmark::State& state) {
    const int points = static_cast<int>(state.range(0));
    const int ratio = static_cast<int>(state.range(1));
    GraphModel& model = recordings(points);
    ui::ScopeWidget scope(model);
    QImage image(1920 * ratio, 1080 * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    bool shifted = false;
    for (auto _ : state) {
        // A view that moved by a hair: everything is drawn again, the slots included.
        shifted = !shifted;
        model.setTimeWindow(shifted ? 1 : 0, 2.0 * points);
        scope.render(image);
        benchmark::DoNotOptimize(image.constBits());
    }
    model.setTimeWindow(0, 2.0 * points);
    state.SetItemsProcessed(state.iterations() * kGraphSlots * points);
}
BENCHMARK(BM_ScopeFullRedraw)->ArgsProduct({{10000, 100000, 500000}, {1, 2}})->Unit(benchmark::kMillisecond);

// What the full redraw is measured against: the smallest and largest value of every point.
void BM_ScopeMinMaxScan(benchmark::State& state) {
    const int points = static_cast<int>(state.range(0));
    GraphModel& model = recordings(points);
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
    state.SetItemsProcessed(state.iterations() * kGraphSlots * points);
}
BENCHMARK(BM_ScopeMinMaxScan)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(500000)

    ->Unit(benchmark::kMillisecond);

// A RUN's live-draw frame: five full recordings kept on screen and a live trace that grows by a tick's
// samples (10 ms at 1,000 samples/s) between frames, against the same frames with the live trace alone.
void liveFrames(benchmark::State& state, bool withSlots) {
    GraphModel empty;
    GraphModel& model = withSlots ? recordings(kMaxSamples) : empty;
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
