#pragma once

#include "link/BusModule.h"

#include <QObject>
#include <deque>

class QCanBusDevice;

namespace tarvo {

// An interface of a Qt CAN plugin through QCanBus: PEAK's adapter (socketcan or peakcan), any other
// SocketCAN interface and Qt's virtual bus. Frames that arrive wait in a bounded queue until read.
class QtCanPluginPort : public QObject, public CanPluginPort {
    Q_OBJECT
public:
    explicit QtCanPluginPort(CanAdapterPlace place);
    ~QtCanPluginPort() override;

    std::uint32_t open(int bitsPerSecond) override;
    std::uint32_t write(const CanMessage& message) override;
    std::uint32_t read(CanMessage* message) override;
    std::uint32_t close() override;
    void waitForFrames(int ms) override;
    bool isOpen() const override { return device_ != nullptr; }
    const QString& problem() const override { return problem_; }

private:
    void takeFrames();
    // Waits until the plugin has no frame left to write; false when it still has one after ms or the
    // interface went away meanwhile.
    bool waitUntilWritten(int ms);
    QString lostText(const QString& reason) const;
    bool isVirtual() const { return place_.plugin == QLatin1String("virtualcan"); }
    bool isSocketCan() const { return place_.plugin == QLatin1String("socketcan"); }

    CanAdapterPlace place_;
    QCanBusDevice* device_ = nullptr;
    std::deque<CanMessage> queue_;
    bool lost_ = false;
    bool overrun_ = false;
    QString problem_;
};

} // namespace tarvo
