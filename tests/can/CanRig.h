#pragma once

// Qt's virtual CAN bus with the real simulator on it: tarvo-devsim runs as its own process and joins
// first, so it serves the bus; the program under test and a listener join as clients. The listener
// hears every frame the program sends.
#include "support/ProgramRig.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QEventLoop>
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

class CanBusRig {
public:
    ~CanBusRig() { stop(); }

    // The simulator with the given devices as node 1 on virtualcan:can0, and a listener on the bus.
    bool start(const QStringList& devices = {}) {
        QStringList arguments{"--can", "virtualcan:can0"};
        for (const QString& d : devices)
            arguments << "--device" << d;
        // A new process each time: the bus must be served by the simulator, never by this test program.
        sim = std::make_unique<SimulatorProcess>();
        if (!sim->start(arguments))
            return false;
        listener.reset(QCanBus::instance()->createDevice("virtualcan", "can0"));
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

    std::unique_ptr<SimulatorProcess> sim;
    std::unique_ptr<QCanBusDevice> listener;
    QList<QCanBusFrame> heard;
};

} // namespace tarvo::test
