#pragma once

// The program's controller over the real serial-port path: QSerialPort on a pseudo-terminal whose other
// side is a simulated line, at the path COM1 is mapped to, with a private "Tarvo.ini". Pulling the
// adapter closes the simulator's side; plugging it in again opens a new terminal at the same path.
#include "app/MainController.h"
#include "engine/Line.h"
#include "engine/PtyLine.h"
#include "link/QtSerialPortDevice.h"
#include "support/FakeOperator.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace tarvo::test {

class PtyControllerRig {
public:
    explicit PtyControllerRig(const devsim::DeviceConfig& config) { line.addDevice(config); }

    // Plugs the adapter in and starts the controller on COM1 at 115200 baud.
    ::testing::AssertionResult start() {
        if (::testing::AssertionResult plugged = plug(); !plugged)
            return plugged;
        QFile ini(dir.filePath("Tarvo.ini"));
        if (!ini.open(QIODevice::WriteOnly) || ini.write("[Port]\nBaud=115200\nComNumber=1\n") < 0)
            return ::testing::AssertionFailure() << "Tarvo.ini: " << ini.errorString().toStdString();
        ini.close();
        ComPortMap map;
        map.setPath(1, path());
        controller = std::make_unique<MainController>(op, std::make_unique<QtSerialPortDevice>(map),
                                                      dir.filePath("Tarvo.ini"));
        controller->start();
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult plug() {
        QString error;
        pty = std::make_unique<devsim::PtyLine>(&line);
        if (!pty->open(&error) || !pty->makeLink(path(), &error))
            return ::testing::AssertionFailure() << error.toStdString();
        return ::testing::AssertionSuccess();
    }
    void pull() { pty.reset(); }
    QString path() const { return dir.filePath("ttyTarvo0"); }

    devsim::Line line;
    QTemporaryDir dir;
    std::unique_ptr<devsim::PtyLine> pty;
    FakeOperator op;
    std::unique_ptr<MainController> controller;
};

} // namespace tarvo::test
