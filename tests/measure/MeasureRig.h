#pragma once

#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "link/CommandLink.h"
#include "measure/Acquisition.h"
#include "measure/DisplayStream.h"
#include "measure/GraphModel.h"
#include "measure/LiveReadout.h"
#include "measure/RecordingMemory.h"
#include "measure/StreamDispatcher.h"
#include "support/FakeOperator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <memory>

namespace tarvo::test {

// The measuring subsystem on a simulated device at COM1, with device time shrunk tenfold.
class MeasureRig {
public:
    explicit MeasureRig(int deviceIdentity = 4110, bool fullDuplex = true) {
        TimeScale::setFactor(0.1);
        devsim::SimulatedPorts::clear();
        devsim::DeviceConfig config;
        config.identity = deviceIdentity;
        config.baud = 9600;
        config.fullDuplex = fullDuplex;
        device = line.addDevice(config);
        devsim::SimulatedPorts::attach(1, &line);
        comm = std::make_unique<CommandLink>(std::make_unique<devsim::SimulatedPort>(), op);
        comm->initialise();
        identity = deviceIdentity;
        MeasureHooks hooks;
        hooks.findDevice = [this] { ++findDeviceCalls; };
        hooks.deviceIdentity = [this] { return identity; };
        hooks.anySerialPort = [] { return true; };
        acq = std::make_unique<Acquisition>(*comm, op, readout, memory, graph, hooks);
        display = std::make_unique<DisplayStream>(*comm, op, readout, *acq, hooks);
        dispatcher = std::make_unique<StreamDispatcher>(*comm, op, readout, memory, graph, *acq,
                                                        [this] { return identity; });
        comm->setStreamSink([this](QByteArrayView packet) { dispatcher->dispatch(packet); });
    }
    ~MeasureRig() {
        dispatcher.reset();
        display.reset();
        acq.reset();
        comm.reset();
        devsim::SimulatedPorts::clear();
        TimeScale::setFactor(1.0);
    }

    // A line as streamMatcher would deliver it under the given start string.
    void feed(const QByteArray& start, QByteArrayView text) {
        comm->streamMatcher().setStartString(start);
        dispatcher->dispatch(text);
    }
    // Keeps the device's own stream away from the dispatcher so that only hand-made lines arrive.
    void muteDevice() { comm->streamMatcher().setEnabled(false); }

    // Runs the event loop for a real-time span.
    static void pump(int realMs) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < realMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
    }

    FakeOperator op;
    devsim::Line line;
    devsim::Device* device = nullptr;
    std::unique_ptr<CommandLink> comm;
    LiveReadout readout;
    RecordingMemory memory;
    GraphModel graph;
    std::unique_ptr<Acquisition> acq;
    std::unique_ptr<DisplayStream> display;
    std::unique_ptr<StreamDispatcher> dispatcher;
    int identity = 4110;
    int findDeviceCalls = 0;
};

// Seven status-packet bytes.
inline QByteArray statusPacket(unsigned char status, unsigned char g0, unsigned char g1, unsigned char g2,
                               unsigned char n0 = 0, unsigned char n1 = 0, unsigned char n2 = 0) {
    const char bytes[7] = {char(status), char(g0), char(g1), char(g2), char(n0), char(n1), char(n2)};
    return QByteArray(bytes, 7);
}

} // namespace tarvo::test
