// Statistics of a 500,000-sample span, against a bare loop that only adds up the same floats.
#include "measure/SpanStatistics.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <random>
#include <vector>

using namespace tarvo;

namespace {

constexpr int kSpan = 500000;

const std::vector<float>& span() {
    static const std::vector<float> values = [] {
        std::vector<float> v(kSpan);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-20, 20);
        for (int i = 0; i < kSpan; ++i)
            v[std::size_t(i)] = float(std::round(5000 + 3000 * std::sin(i / 2000.0)) + noise(random)) / 10.0f;
        return v;
    }();
    return values;
}

void BM_SpanStatistics500k(benchmark::State& state) {
    const std::vector<float>& v = span();
    for (auto _ : state) {
        SpanStatistics s = SpanStatistics::of(v.data(), qint64(v.size()));
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * kSpan);
}
BENCHMARK(BM_SpanStatistics500k)->Unit(benchmark::kMicrosecond);

void BM_SpanBareLoop500k(benchmark::State& state) {
    const std::vector<float>& v = span();
    for (auto _ : state) {
        double sum = 0;
        for (float x : v)
            sum += x;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kSpan);
}
BENCHMARK(BM_SpanBareLoop500k)->Unit(benchmark::kMicrosecond);

} // namespace
BENCHMARK_MAIN();
