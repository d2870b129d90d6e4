#pragma once

// Qt's virtual CAN bus with the real simulator on it: tarvo-devsim runs as its own process and joins
// first, so it serves the bus; the program under test and a listener join as clients. The listener
// hears every frame the program sends.
#include "support/ProgramRig.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QEventLoop>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace tarvo::test {

inline bool waitUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// The virtual bus's port for this test program: chosen free once, so that a demo or another test run on
// the machine (each with its own bus) never meets this one. One per program, since the plugin keeps the
// first server it started for the rest of the process.
inline quint16 canBusPort() {
    static const quint16 port = [] {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : quint16(0);
    }();
    return port;
}

// The interface every party on this program's bus names: "tcp://127.0.0.1:PORT/can0".
inline QString canBusInterface() {
    return QStringLiteral("tcp://127.0.0.1:%1/can0").arg(canBusPort());
}

// The "[CAN]" section that chooses this program's bus.
inline QByteArray canBusSettings() {
    return "[CAN]\nCANbus=1\nPlugin=virtualcan\nInterface=" + canBusInterface().toLatin1() + "\n";
}

class CanBusRig {
public:
    ~CanBusRig() { stop(); }

    // The simulator with the given devices as node 1 (or nodeId) on this program's virtual bus, and a
    // listener on the bus.
    bool start(const QStringList& devices = {}, int nodeId = 1) {
        if (canBusPort() == 0)
            return false;
        QStringList arguments{"--can", "virtualcan:" + canBusInterface(), "--can-node",
                              QString::number(nodeId)};
        for (const QString& d : devices)
            arguments << "--device" << d;
        // A new process each time: the bus must be served by the simulator, never by this test program.
        sim = std::make_unique<SimulatorProcess>();
        if (!sim->start(arguments))
            return false;
        listener.reset(QCanBus::instance()->createDevice("virtualcan", canBusInterface()));
        if (!listener || !listener->connectDevice())
            return false;
        QObject::connect(listener.get(), &QCanBusDevice::framesReceived, [this] {
            for (const QCanBusFrame& f : listener->readAllFrames())
                heard << f;
        });
        return waitUntil([this] { return listener->state() == QCanBusDevice::ConnectedState; }, 5000);
    }
    void stop() {
        listener.reset();
        if (sim)
            sim->stop();
    }
    // Frames the program sent since the last call, as "ID:HEX" texts ("601:40002104...").
    QStringList frames() {
        QStringList texts;
        for (const QCanBusFrame& f : std::as_const(heard))
            texts << QString::number(f.frameId(), 16) + ":" + QString::fromLatin1(f.payload().toHex());
        heard.clear();
        return texts;
    }

    // Waits until the program has sent a frame with this text (see frames()); earlier frames are used up.
    bool sent(const QString& frame, int ms = 5000) {
        QStringList seen;
        return waitUntil(
            [&] {
                seen += frames();
                return seen.contains(frame);
            },
            ms);
    }

    // Puts a frame on the bus as another node would.
    bool put(quint32 id, const QByteArray& payload) {
        return listener && listener->writeFrame(QCanBusFrame(id, payload));
    }

    std::unique_ptr<SimulatorProcess> sim;
    std::unique_ptr<QCanBusDevice> listener;
    QList<QCanBusFrame> heard;
};

} // namespace tarvo::test
