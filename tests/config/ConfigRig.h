#pragma once

// The configuration groups of the device-family pages over a simulated transmitter on COM1, with
// device time shrunk; what the device heard and what the operator was shown are read back by the tests.
#include "base/TimeScale.h"
#include "config/CheckWeigherParameters.h"
#include "config/DosingParameters.h"
#include "config/FamilyPages.h"
#include "config/FilterSettings.h"
#include "config/SetupTransfer.h"
#include "config/TrackBarFilter.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "link/CommandLink.h"
#include "link/PortSelection.h"
#include "link/SerialPort.h"
#include "support/FakeOperator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <memory>

namespace tarvo::test {

// One rig at a time: COM1 opens only once.
class ConfigRig {
public:
    explicit ConfigRig(int identity, double timeScale = 0.2) {
        TimeScale::setFactor(timeScale);
        devsim::SimulatedPorts::clear();
        devsim::DeviceConfig config;
        config.identity = identity;
        config.baud = 115200;
        config.resetMs = 100;
        device = line.addDevice(config);
        devsim::SimulatedPorts::attach(1, &line);
        link = std::make_unique<CommandLink>(std::make_unique<devsim::SimulatedPort>(), op);
        link->initialise();
        ports = std::make_unique<PortSelection>(*link);
        ports->setPortAvailable(1, true);
        ports->baudClicked(115200);
        ports->comClicked(1);
        this->identity = identity;
        ConfigHooks hooks;
        hooks.deviceIdentity = [this] { return this->identity; };
        hooks.firmwareVersion = [] { return QStringLiteral("2.10"); };
        hooks.setPageControlEnabled = [this](bool on) { pageControl << on; };
        hooks.portBaud = [this] { return int(link->port().baudRate()); };
        hooks.comNumber = [this] { return link->port().portNumber(); };
        mxr41Filter = std::make_unique<FilterSettings>(Page::Mxr41, *link, op, hooks);
        tcw43Filter = std::make_unique<FilterSettings>(Page::Tcw43, *link, op, hooks);
        trackBar = std::make_unique<TrackBarFilter>(*link, op, hooks);
        checkWeigher = std::make_unique<CheckWeigherParameters>(*link, op, hooks);
        dosing = std::make_unique<DosingParameters>(*link, op, hooks);
        files = std::make_unique<SetupTransfer>(*checkWeigher, *dosing, op, hooks);
        pages = std::make_unique<FamilyPages>(*link, *ports, op, *mxr41Filter, *tcw43Filter, *trackBar,
                                              *checkWeigher, hooks);
    }
    ~ConfigRig() {
        pages.reset();
        files.reset();
        dosing.reset();
        checkWeigher.reset();
        trackBar.reset();
        tcw43Filter.reset();
        mxr41Filter.reset();
        ports.reset();
        link.reset();
        devsim::SimulatedPorts::clear();
        TimeScale::setFactor(1.0);
    }

    // What the device heard since the last call, one entry per "\r"-terminated line.
    QList<QByteArray> heard() {
        QList<QByteArray> lines = line.receivedTexts();
        line.clearReceived();
        return lines;
    }
    // Runs the event loop for a real-time span.
    static void pump(int realMs) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < realMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
    }
    static bool waitFor(const std::function<bool()>& done, int realMs = 5000) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > realMs)
                return false;
            pump(2);
        }
        return true;
    }

    FakeOperator op;
    devsim::Line line;
    devsim::Device* device = nullptr;
    int identity = 0;
    QList<bool> pageControl;
    std::unique_ptr<CommandLink> link;
    std::unique_ptr<PortSelection> ports;
    std::unique_ptr<FilterSettings> mxr41Filter;
    std::unique_ptr<FilterSettings> tcw43Filter;
    std::unique_ptr<TrackBarFilter> trackBar;
    std::unique_ptr<CheckWeigherParameters> checkWeigher;
    std::unique_ptr<DosingParameters> dosing;
    std::unique_ptr<SetupTransfer> files;
    std::unique_ptr<FamilyPages> pages;
};

} // namespace tarvo::test
