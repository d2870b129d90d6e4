#pragma once

#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "link/CommandLink.h"
#include "link/PortSelection.h"
#include "link/SerialPort.h"
#include "protocol/Discovery.h"
#include "support/FakeOperator.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace tarvo::test {

// Communication unit, port selection and discovery over in-process simulated lines, one per COM number.
// Device times are scaled down so that a full walk over the ports costs little real time.
class DiscoveryFixture : public ::testing::Test {
protected:
    void SetUp() override {
        TimeScale::setFactor(0.1);
        devsim::SimulatedPorts::clear();
    }
    void TearDown() override {
        discovery.reset();
        ports.reset();
        comm.reset();
        devsim::SimulatedPorts::clear();
        TimeScale::setFactor(1.0);
    }

    // Without an address the device answers at once; with one it waits for "OP" + that address.
    devsim::Device* addDevice(devsim::Line& line, int identity, int baud, std::optional<int> address = {}) {
        devsim::DeviceConfig config;
        config.identity = identity;
        config.firmware = QStringLiteral("2.10");
        config.baud = baud;
        config.address = address;
        return line.addDevice(config);
    }

    // Probes COM8..COM1 as the program does at start, then chooses the port and rate.
    void start(int com, int baud) {
        discovery.reset();
        ports.reset();
        comm.reset(); // a COM number opens only once
        comm = std::make_unique<CommandLink>(std::make_unique<devsim::SimulatedPort>(), op);
        comm->initialise();
        ports = std::make_unique<PortSelection>(*comm);
        for (int c = 8; c >= 1; --c) {
            comm->port().setPortNumber(c);
            ports->setPortAvailable(c, comm->tryOpen());
        }
        ports->baudClicked(baud);
        ports->comClicked(com);
        discovery = std::make_unique<Discovery>(*comm, *ports, op);
        discovery->setStreamCommand([] { return QByteArray("SN\r"); });
        QObject::connect(
            discovery.get(), &Discovery::familyTabRequested,
            [this](FamilyPage page, bool visible) { tabs[static_cast<int>(page)] = visible ? 1 : 0; });
        QObject::connect(discovery.get(), &Discovery::firmwareProgrammingStateChanged,
                         [this](int state) { programmingState = state; });
        op.clear();
    }

    // The "br" lines a line received, each with the host rate it went out at.
    static QList<devsim::Line::Received> baudTries(const devsim::Line& line) {
        QList<devsim::Line::Received> tries;
        for (const devsim::Line::Received& r : line.receivedLines())
            if (r.bytes.startsWith("br"))
                tries << r;
        return tries;
    }

    FakeOperator op;
    std::unique_ptr<CommandLink> comm;
    std::unique_ptr<PortSelection> ports;
    std::unique_ptr<Discovery> discovery;
    // -1: never requested; 0 hidden; 1 shown.
    int tabs[kFamilyPages] = {-1, -1, -1, -1};
    int programmingState = 0;
};

} // namespace tarvo::test
