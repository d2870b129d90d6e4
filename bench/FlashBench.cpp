// A full 32 KiB image (all 256 blocks) through the bootloader dialogue at 9600 baud against the
// simulator's boot monitor with wire time: the time the pass takes against the time its bytes need on
// the wire, both ways, plus the pass's fixed 2 s pause. Once through the in-process port, once through
// the real serial port code on a pseudo-terminal.
#include "base/Operator.h"
#include "engine/Device.h"
#include "engine/Line.h"
#include "engine/PtyLine.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "firmware/BootloaderDialogue.h"
#include "link/CommandLink.h"
#include "link/QtSerialPortDevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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

void upload(benchmark::State& state, bool overPty) {
    const QByteArray kernel = pattern(BootloaderDialogue::kKernelBytes, 1);
    const QByteArray image = pattern(BootloaderDialogue::kImageSize, 2);
    for (auto _ : state) {
        devsim::SimulatedPorts::clear();
        devsim::Line line;
        line.setWireTime(true);
        devsim::Device* device = line.addDevice({});
        device->setBootMode(true);
        SilentOperator op;
        std::unique_ptr<SerialPort> port;
        std::unique_ptr<devsim::PtyLine> pty;
        if (overPty) {
            pty = std::make_unique<devsim::PtyLine>(&line);
            QString error;
            if (!pty->open(&error)) {
                state.SkipWithError(qPrintable(error));
                return;
            }
            ComPortMap map;
            map.setPath(1, pty->slavePath());
            port = std::make_unique<QtSerialPortDevice>(map);
        } else {
            devsim::SimulatedPorts::attach(1, &line);
            port = std::make_unique<devsim::SimulatedPort>();
        }
        CommandLink link(std::move(port), op);
        link.initialise(); // COM1 at 9600 baud

        QElapsedTimer clock;
        clock.start();
        const BootloaderDialogue::Result result =
            BootloaderDialogue(link).runPass(kernel, image, true, BootloaderDialogue::kImageSize);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (result.state != BootloaderDialogue::State::Done ||
            device->bootMonitor().recordAddresses().size() != 256) {
            state.SkipWithError(qPrintable("the pass failed: " + result.text));
            return;
        }
        qint64 hostBytes = 0;
        for (const auto& chunk : line.receivedLog())
            hostBytes += chunk.bytes.size();
        const qint64 deviceBytes = line.sentToHost().size();
        const double wire = double((hostBytes + deviceBytes) * devsim::Line::byteNs(kBaud)) / 1e9;
        state.SetIterationTime(seconds);
        state.counters["host_bytes"] = double(hostBytes);
        state.counters["device_bytes"] = double(deviceBytes);
        state.counters["wire_s"] = wire;
        state.counters["taken_s"] = seconds;
        state.counters["ratio"] = seconds / (wire + kPauseSeconds);
        state.counters["ratio_without_pause"] = (seconds - kPauseSeconds) / wire;
        link.port().close();
    }
    devsim::SimulatedPorts::clear();
}

void BM_FullImageUploadInProcess(benchmark::State& state) {
    upload(state, false);
}
void BM_FullImageUploadOnPseudoTerminal(benchmark::State& state) {
    upload(state, true);
}

BENCHMARK(BM_FullImageUploadInProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_FullImageUploadOnPseudoTerminal)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
