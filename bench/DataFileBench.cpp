// Writing the 500,000-line graph data file, against fwrite of the same bytes already formatted; and
// against what a file that survives a power cut honestly costs: fwrite, fsync and rename over the old one.
#include "base/Operator.h"
#include "measure/DataFiles.h"
#include "measure/RecordingMemory.h"

#include <QDir>
#include <QFile>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <random>
#include <unistd.h>

using namespace tarvo;

namespace {

struct Fixture {
    RecordingMemory memory;
    SilentOperator op;
    DataFiles files{op, memory};
    QString path = QDir::tempPath() + "/tarvo-bench-graph.csv";
    Fixture() {
        GraphSlot& slot = memory.slot(1);
        std::mt19937 random(3);
        std::uniform_int_distribution<int> noise(-20, 20);
        for (int i = 1; i <= kMaxSamples; ++i) {
            slot.records[i].gross =
                static_cast<float>(std::round(5000 + 3000 * std::sin(i / 2000.0)) + noise(random));
            slot.records[i].time = static_cast<float>(i * 2.137);
        }
        slot.count = kMaxSamples;
        slot.recorded = true;
    }
    ~Fixture() { QFile::remove(path); }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_GraphDataFile(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state)
        benchmark::DoNotOptimize(f.files.writeGraphData(f.path, 1, true));
    state.SetBytesProcessed(state.iterations() * QFileInfo(f.path).size());
}
BENCHMARK(BM_GraphDataFile)->Unit(benchmark::kMillisecond);

void BM_GraphDataFileFwriteBaseline(benchmark::State& state) {
    Fixture& f = fixture();
    f.files.writeGraphData(f.path, 1, true);
    QFile file(f.path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    const QByteArray target = QFile::encodeName(f.path + ".baseline");
    for (auto _ : state) {
        std::FILE* out = std::fopen(target.constData(), "wb");
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), out);
        std::fclose(out);
    }
    std::remove(target.constData());
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_GraphDataFileFwriteBaseline)->Unit(benchmark::kMillisecond);

void BM_GraphDataFileFwriteFsyncRenameBaseline(benchmark::State& state) {
    Fixture& f = fixture();
    f.files.writeGraphData(f.path, 1, true);
    QFile file(f.path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    const QByteArray temporary = QFile::encodeName(f.path + ".baseline.tmp");
    const QByteArray target = QFile::encodeName(f.path + ".baseline");
    for (auto _ : state) {
        std::FILE* out = std::fopen(temporary.constData(), "wb");
        if (!out) {
            state.SkipWithError("cannot create the file");
            return;
        }
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), out);
        std::fflush(out);
        ::fsync(fileno(out));
        std::fclose(out);
        std::rename(temporary.constData(), target.constData());
    }
    std::remove(target.constData());
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_GraphDataFileFwriteFsyncRenameBaseline)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
