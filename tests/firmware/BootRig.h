#pragma once

// The firmware upgrade and the settings images over a simulated transmitter on COM1, device time
// shrunk. The operator fits and removes the programming switch when the program asks for it, as a
// person at the bench does.
#include "FirmwareFiles.h"
#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareUpgrade.h"
#include "firmware/SettingsImageTransfer.h"
#include "link/CommandLink.h"
#include "link/PortSelection.h"
#include "support/FakeOperator.h"

#include <QFile>
#include <QTemporaryDir>
#include <memory>

namespace tarvo::test {

// The device's side of the operator: a prompt to fit the switch puts the device into boot mode, one to
// remove it starts the firmware again.
class BenchOperator : public FakeOperator {
public:
    devsim::Device* device = nullptr;
    bool followPrompts = true;
    void showMessage(const QString& text, const QString& caption, MessageIcon icon) override {
        FakeOperator::showMessage(text, caption, icon);
        if (!device || !followPrompts)
            return;
        if (text == FirmwareUpgrade::kSolderSwitch)
            device->setBootMode(true);
        else if (text == FirmwareUpgrade::kUnsolderSwitch)
            device->setBootMode(false);
    }
};

class BootRig {
public:
    // withDevice false: the line starts empty (addressed devices are added by the test).
    explicit BootRig(bool withDevice = true, double timeScale = 0.05) {
        TimeScale::setFactor(timeScale);
        devsim::SimulatedPorts::clear();
        if (withDevice) {
            devsim::DeviceConfig config;
            config.baud = 115200;
            device = line.addDevice(config);
            op.device = device;
        }
        devsim::SimulatedPorts::attach(1, &line);
        link = std::make_unique<CommandLink>(std::make_unique<devsim::SimulatedPort>(), op);
        link->initialise();
        ports = std::make_unique<PortSelection>(*link);
        ports->setPortAvailable(1, true);
        ports->baudClicked(115200);
        ports->comClicked(1);
        firmware = std::make_unique<FirmwareFile>(op);
        FirmwareUpgrade::Hooks hooks;
        hooks.firmware = [this]() -> const FirmwareFile* { return firmware.get(); };
        hooks.storedKernelPath = [this] { return storedKernel; };
        hooks.storeKernelPath = [this](const QString& path) { storedKernel = path; };
        hooks.setPageControlEnabled = [this](bool on) { pageControl << on; };
        upgrade = std::make_unique<FirmwareUpgrade>(*link, *ports, op, hooks);
        images = std::make_unique<SettingsImageTransfer>(*link, op);
        link->setStreamSink([this](QByteArrayView text) {
            // The stream decoder hands ":" lines to the settings image, as in the program.
            if (link->streamMatcher().startString() == ":")
                images->imageLine(text);
        });
    }
    ~BootRig() {
        images.reset();
        upgrade.reset();
        firmware.reset();
        ports.reset();
        link.reset();
        devsim::SimulatedPorts::clear();
        TimeScale::setFactor(1.0);
    }

    QString file(const QString& name) const { return dir.filePath(name); }
    bool write(const QString& name, const QByteArray& bytes) const {
        QFile f(file(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    // A kernel of 1024 bytes at its device address, as a file, stored as the kernel path.
    QByteArray useKernel() {
        QByteArray kernel(1024, '\0');
        for (int i = 0; i < kernel.size(); ++i)
            kernel[i] = char((i * 7 + 3) & 0xFF);
        write("Prog41.a20", sRecords(kernel, 0xF780));
        storedKernel = file("Prog41.a20");
        return kernel;
    }
    // Loads an S-record firmware whose data is bytes at address.
    bool loadFirmware(const QByteArray& bytes, int address) {
        write("firmware.s19", sRecords(bytes, address));
        return firmware->load(file("firmware.s19"));
    }
    // Everything the device heard, as one run of bytes.
    QByteArray heard() const {
        QByteArray all;
        for (const auto& r : line.receivedLog())
            all += r.bytes;
        return all;
    }

    QTemporaryDir dir;
    devsim::Line line;
    devsim::Device* device = nullptr;
    BenchOperator op;
    std::unique_ptr<CommandLink> link;
    std::unique_ptr<PortSelection> ports;
    std::unique_ptr<FirmwareFile> firmware;
    std::unique_ptr<FirmwareUpgrade> upgrade;
    std::unique_ptr<SettingsImageTransfer> images;
    QString storedKernel;
    QList<bool> pageControl;
};

} // namespace tarvo::test
