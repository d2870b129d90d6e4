// A full 32 KiB image (all 256 blocks) through the bootloader dialogue at 9600 baud against the
// simulator's boot monitor with wire time: the time the pass takes against the time its bytes need on
// the wire, both ways, plus the pass's fixed 2 s pause. Once through the in-process port, once through
// the real serial port code against the simulator program on a pseudo-terminal. And a short image (its
// first few blocks, the rest erased) through the in-process port, short enough for the speed guard.
#include "base/Operator.h"
#include "engine/Device.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "firmware/BootloaderDialogue.h"
#include "link/CommandLink.h"
#include "link/QtSerialPortDevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

using namespace tarvo;

constexpr int kBaud = 9600;
constexpr double kPauseSeconds = 2.0;

QByteArray pattern(qsizetype size, unsigned seed) {
    QByteArray bytes(size, '\0');
    for (char& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = char((seed >> 16) & 0x7F); // never a block of 0xFF: every block is sent
    }
    return bytes;
}

// What the pass puts on the wire: sync, "U", the two length bytes, the kernel, the erase, one record of
// 267 characters and its CR per block, the end record with CR LF; and what the monitor answers.
constexpr qint64 kBlocks = BootloaderDialogue::kImageSize / BootloaderDialogue::kBlockSize;
constexpr qint64 hostBytes(qint64 blocks) {
    return 4 + BootloaderDialogue::kKernelBytes + 1 + blocks * 268 + 13;
}
constexpr qint64 deviceBytes(qint64 blocks) {
    return 4 + BootloaderDialogue::kKernelBytes + 1 + blocks;
}
constexpr qint64 kShortBlocks = 4;

void report(benchmark::State& state, double seconds, qint64 blocks = kBlocks) {
    const qint64 host = hostBytes(blocks), device = deviceBytes(blocks);
    const double wire = double((host + device) * devsim::Line::byteNs(kBaud)) / 1e9;
    state.SetIterationTime(seconds);
    state.counters["host_bytes"] = double(host);
    state.counters["device_bytes"] = double(device);
    state.counters["wire_s"] = wire;
    state.counters["taken_s"] = seconds;
    state.counters["ratio"] = seconds / (wire + kPauseSeconds);
    state.counters["ratio_without_pause"] = (seconds - kPauseSeconds) / wire;
}

// Times one second pass; false (with the reason given to the benchmark) when it failed.
bool timedPass(benchmark::State& state, CommandLink& link, double* seconds, qint64 blocks = kBlocks) {
    const QByteArray kernel = pattern(BootloaderDialogue::kKernelBytes, 1);
    QByteArray image(BootloaderDialogue::kImageSize, char(0xFF));
    image.replace(0, blocks * BootloaderDialogue::kBlockSize,
                  pattern(blocks * BootloaderDialogue::kBlockSize, 2));
    QElapsedTimer clock;
    clock.start();
    const BootloaderDialogue::Result result = BootloaderDialogue(link).runPass(kernel, image, true);
    *seconds = double(clock.nsecsElapsed()) / 1e9;
    if (result.state != BootloaderDialogue::State::Done) {
        state.SkipWithError(qPrintable("the pass failed: " + result.text));
        return false;
    }
    return true;
}

void uploadInProcess(benchmark::State& state, qint64 blocks) {
    for (auto _ : state) {
        devsim::SimulatedPorts::clear();
        devsim::Line line;
        line.setWireTime(true);
        devsim::Device* device = line.addDevice({});
        device->setBootMode(true);
        devsim::SimulatedPorts::attach(1, &line);
        SilentOperator op;
        CommandLink link(std::make_unique<devsim::SimulatedPort>(), op);
        link.initialise(); // COM1 at 9600 baud
        double seconds = 0;
        if (!timedPass(state, link, &seconds, blocks))
            return;
        qint64 heard = 0;
        for (const auto& chunk : line.receivedLog())
            heard += chunk.bytes.size();
        if (device->bootMonitor().recordAddresses().size() != blocks || heard != hostBytes(blocks) ||
            line.sentToHost().size() != deviceBytes(blocks)) {
            state.SkipWithError("the monitor did not get every record");
            return;
        }
        report(state, seconds, blocks);
        link.port().close();
    }
    devsim::SimulatedPorts::clear();
}

void BM_FullImageUploadInProcess(benchmark::State& state) {
    uploadInProcess(state, kBlocks);
}

void BM_ShortImageUploadInProcess(benchmark::State& state) {
    uploadInProcess(state, kShortBlocks);
}

// The simulator as its own program on a pseudo-terminal, the program's real serial port code on the
// other end: the drain before each byte and the driver's pace are part of the figure.
void BM_FullImageUploadOnPseudoTerminal(benchmark::State& state) {
    for (auto _ : state) {
        QProcess simulator;
        simulator.start(QCoreApplication::applicationDirPath() + "/../tools/devsim/tarvo-devsim",
                        {"--boot", "--device", "line=1,id=4110"});
        static const QRegularExpression announced("^line 1: (\\S+)$");
        QString path;
        while (path.isEmpty() && simulator.waitForReadyRead(5000))
            while (simulator.canReadLine() && path.isEmpty()) {
                const QRegularExpressionMatch m =
                    announced.match(QString::fromLocal8Bit(simulator.readLine()).trimmed());
                if (m.hasMatch())
                    path = m.captured(1);
            }
        if (path.isEmpty()) {
            state.SkipWithError("the simulator did not come up");
            return;
        }
        ComPortMap map;
        map.setPath(1, path);
        SilentOperator op;
        CommandLink link(std::make_unique<QtSerialPortDevice>(map), op);
        link.initialise(); // COM1 at 9600 baud
        double seconds = 0;
        const bool done = timedPass(state, link, &seconds);
        link.port().close();
        simulator.write("quit\n");
        if (!simulator.waitForFinished(3000))
            simulator.kill();
        if (!done)
            return;
        report(state, seconds);
    }
}

BENCHMARK(BM_FullImageUploadInProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_ShortImageUploadInProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_FullImageUploadOnPseudoTerminal)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
