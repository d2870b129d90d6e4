#pragma once

// The program's controller over simulated devices on COM1, with a private "Tarvo.ini" and
// "Tarvocommand.ini", device time shrunk twentyfold: the terminal, the command panel and the
// multi-command sender as the controller wires them.
#include "app/MainController.h"
#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "support/FakeOperator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

namespace tarvo::test {

inline bool waitUntil(const std::function<bool()>& done, int realMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > realMs)
            return false;
        QTest::qWait(2);
    }
    return true;
}

// A device streaming net values from power-on, as a transmitter with autotransmit on: on the Commands page
// answers are taken from any data, and no stream line may pass for one.
inline devsim::DeviceConfig streamingDevice() {
    devsim::DeviceConfig config;
    config.autotransmit = "SN";
    config.updateMs = 20;
    return config;
}

class ConsoleRig {
public:
    explicit ConsoleRig(const QList<devsim::DeviceConfig>& devices = {streamingDevice()},
                        const QByteArray& settings = "[Port]\nBaud=115200\nComNumber=1\n") {
        TimeScale::setFactor(0.05);
        devsim::SimulatedPorts::clear();
        write("Tarvo.ini", settings);
        for (const devsim::DeviceConfig& config : devices)
            line.addDevice(config);
        devsim::SimulatedPorts::attach(1, &line);
        controller = std::make_unique<MainController>(op, std::make_unique<devsim::SimulatedPort>(),
                                                      dir.filePath("Tarvo.ini"));
        controller->start();
    }
    ~ConsoleRig() {
        controller.reset();
        devsim::SimulatedPorts::clear();
        TimeScale::setFactor(1.0);
    }

    bool write(const QString& name, const QByteArray& text) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }
    // The log after the sender's help text.
    QStringList log() const {
        const QStringList& all = controller->commandLog().lines();
        const qsizetype help = MultiCommandSender::helpText().size();
        return all.size() >= help && all.mid(0, help) == MultiCommandSender::helpText() ? all.mid(help) : all;
    }
    // What the device received from the first line equal to first on.
    QList<QByteArray> receivedFrom(const QByteArray& first) const {
        const QList<QByteArray> all = line.receivedTexts();
        const qsizetype at = all.indexOf(first);
        return at < 0 ? QList<QByteArray>{} : all.mid(at);
    }
    devsim::Device* device(int index = 0) const { return line.devices().value(index); }

    QTemporaryDir dir;
    FakeOperator op;
    devsim::Line line;
    std::unique_ptr<MainController> controller;
};

} // namespace tarvo::test
