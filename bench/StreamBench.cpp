// One million recorded stream lines through the stream matcher, the stream dispatcher, the value decoder
// and the RUN recording, against a baseline that only splits the same bytes into lines and parses the
// numbers.
#include "base/Operator.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"
#include "measure/Acquisition.h"
#include "measure/GraphModel.h"
#include "measure/LiveReadout.h"
#include "measure/RecordingMemory.h"
#include "measure/StreamDispatcher.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <benchmark/benchmark.h>
#include <charconv>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

std::atomic<long long> g_allocations{0};

} // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace tarvo;

constexpr int kLines = 1000000;

// A device that is in full-duplex mode and otherwise only listens.
class BenchPort : public SerialPort {
public:
    void setPortNumber(int number) override { number_ = number; }
    int portNumber() const override { return number_; }
    void setBaudRate(qint32 baud) override { baud_ = baud; }
    qint32 baudRate() const override { return baud_; }
    void setDataBits(int) override {}
    void setParity(int) override {}
    bool open(QString*) override { return open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void clearInput() override { pending_.clear(); }
    void clearOutput() override {}
    bool write(const QByteArray& bytes) override {
        if (bytes == "DX\r") {
            pending_ = "X:001\r";
            QTimer::singleShot(0, this, [this] { emit readyRead(); });
        }
        return true;
    }
    qint64 bytesAvailable() const override { return pending_.size(); }
    QByteArray readAll() override { return std::exchange(pending_, {}); }
    bool readByte(char*) override { return false; }
    bool waitForReadyRead(int) override { return false; }
    void setDtr(bool) override {}

private:
    int number_ = 1;
    qint32 baud_ = 9600;
    bool open_ = false;
    QByteArray pending_;
};

// What a device streams after "SN": "N" + signed value + "\r".
const QByteArray& recordedStream() {
    static const QByteArray bytes = [] {
        QByteArray b;
        b.reserve(kLines * 10);
        for (int i = 0; i < kLines; ++i) {
            const int counts = (i * 37) % 20000 - 10000;
            b += 'N';
            b += counts < 0 ? '-' : '+';
            b += QByteArray::number(std::abs(counts) / 10).rightJustified(4, '0');
            b += '.';
            b += char('0' + std::abs(counts) % 10);
            b += '\r';
        }
        return b;
    }();
    return bytes;
}

constexpr qsizetype kChunk = 4096; // what one readyRead typically hands over

void BM_StreamRecording(benchmark::State& state) {
    const QByteArray& stream = recordedStream();
    SilentOperator op;
    CommandLink comm(std::make_unique<BenchPort>(), op);
    comm.initialise();
    LiveReadout readout;
    RecordingMemory memory;
    GraphModel graph;
    MeasureHooks hooks;
    hooks.deviceIdentity = [] { return 4110; };
    Acquisition acq(comm, op, readout, memory, graph, hooks);
    StreamDispatcher dispatcher(comm, op, readout, memory, graph, acq, hooks.deviceIdentity);
    comm.setStreamSink([&dispatcher](QByteArrayView packet) { dispatcher.dispatch(packet); });
    long long lines = 0;
    long long allocations = 0;
    for (auto _ : state) {
        for (qsizetype at = 0; at < stream.size(); at += kChunk) {
            if (!acq.runDown() || acq.sampleIndex() >= kMaxSamples - 2000) {
                // A recording holds 500,000 samples: start the next one, untimed.
                state.PauseTiming();
                acq.stopClicked();
                acq.runClicked();
                state.ResumeTiming();
            }
            const long long before = g_allocations.load(std::memory_order_relaxed);
            comm.streamMatcher().feed(stream.constData() + at, std::min(kChunk, stream.size() - at));
            allocations += g_allocations.load(std::memory_order_relaxed) - before;
        }
        lines += kLines;
    }
    state.counters["lines/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
    state.counters["allocs/line"] = double(allocations) / double(lines);
}

void BM_BaselineSplitAndParse(benchmark::State& state) {
    const QByteArray& stream = recordedStream();
    std::vector<float> values(kLines + 1);
    long long lines = 0;
    for (auto _ : state) {
        std::size_t n = 0;
        const char* p = stream.constData();
        const char* end = p + stream.size();
        while (p < end) {
            const char* cr = static_cast<const char*>(std::memchr(p, '\r', std::size_t(end - p)));
            if (!cr)
                break;
            const char* first = p + 1; // after the "N"
            if (*first == '+')
                ++first;
            float v = 0;
            std::from_chars(first, cr, v);
            values[n++] = v;
            p = cr + 1;
        }
        benchmark::DoNotOptimize(values.data());
        lines += static_cast<long long>(n);
    }
    state.counters["lines/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
}

// The framing share of the work: the stream matcher alone, packets dropped.
void BM_MatcherOnly(benchmark::State& state) {
    const QByteArray& stream = recordedStream();
    PacketMatcher matcher;
    matcher.setStartString("N");
    matcher.setEndString("\r");
    matcher.setAutoEnable(true);
    matcher.setEnabled(true);
    matcher.arm();
    long long packets = 0;
    matcher.onPacket = [&packets](QByteArrayView) { ++packets; };
    for (auto _ : state)
        for (qsizetype at = 0; at < stream.size(); at += kChunk)
            matcher.feed(stream.constData() + at, std::min(kChunk, stream.size() - at));
    state.counters["lines/s"] = benchmark::Counter(double(packets), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_StreamRecording)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatcherOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineSplitAndParse)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
