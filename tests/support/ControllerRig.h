#pragma once

// The program's controller, without its windows, over one simulated transmitter on COM1, with a private
// "Tarvo.ini" and device time shrunk: for the subsystems that run whole procedures against a device.
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

class ControllerRig {
public:
    explicit ControllerRig(const devsim::DeviceConfig& config, double timeScale = 0.1) {
        TimeScale::setFactor(timeScale);
        devsim::SimulatedPorts::clear();
        QFile ini(dir.filePath("Tarvo.ini"));
        if (ini.open(QIODevice::WriteOnly))
            ini.write("[Port]\nBaud=115200\nComNumber=1\n");
        ini.close();
        device = line.addDevice(config);
        devsim::SimulatedPorts::attach(1, &line);
        controller = std::make_unique<MainController>(op, std::make_unique<devsim::SimulatedPort>(),
                                                      dir.filePath("Tarvo.ini"));
        controller->start();
    }
    ~ControllerRig() {
        controller.reset();
        devsim::SimulatedPorts::clear();
        TimeScale::setFactor(1.0);
    }

    // Find Device, then forget what the search sent.
    bool find() {
        controller->discovery().findDeviceClicked();
        line.clearReceived();
        op.clear();
        return controller->discovery().found();
    }
    // What the device heard since the last call, one entry per line.
    QList<QByteArray> heard() {
        QList<QByteArray> lines = line.receivedTexts();
        line.clearReceived();
        return lines;
    }
    static bool waitUntil(const std::function<bool()>& done, int realMs = 10000) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > realMs)
                return false;
            QTest::qWait(2);
        }
        return true;
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    FakeOperator op;
    devsim::Line line;
    devsim::Device* device = nullptr;
    std::unique_ptr<MainController> controller;
};

} // namespace tarvo::test
