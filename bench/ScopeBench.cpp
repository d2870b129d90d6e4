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
    scope.render(image); // the background is drawn once and kept
    for (auto _ : state) {
        scope.render(image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(state.iterations() * kGraphSlots * kMaxSamples);
}
BENCHMARK(BM_ScopeFullViewFrame)->Unit(benchmark::kMillisecond);

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
