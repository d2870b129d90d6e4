#include "QtCanPluginPort.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QEventLoop>
#include <QTimer>
#include <QVariant>

namespace tarvo {

namespace {
constexpr int kConnectTimeLimitMs = 3000;
// How long a frame may wait in the plugin before its write counts as failed, and how long closing waits
// for frames still on their way and for the plugin to let go of the interface.
constexpr int kWriteTimeLimitMs = 1000;
constexpr int kCloseTimeLimitMs = 1000;
} // namespace

QtCanPluginPort::QtCanPluginPort(CanAdapterPlace place) : place_(std::move(place)) {}

QtCanPluginPort::~QtCanPluginPort() {
    close();
}

std::uint32_t QtCanPluginPort::open(int bitsPerSecond) {
    close();
    problem_.clear();
    if (!QCanBus::instance()->plugins().contains(place_.plugin)) {
        problem_ = QStringLiteral("The CAN plugin \"%1\" cannot be loaded: the adapter's driver or Qt's CAN "
                                  "bus plugins are not installed.")
                       .arg(place_.plugin);
        return CanStatus::kNoDriver;
    }
    QString error;
    QCanBusDevice* device = QCanBus::instance()->createDevice(place_.plugin, place_.interface, &error);
    if (!device) {
        problem_ = QStringLiteral("The CAN plugin \"%1\" cannot open interface \"%2\": %3")
                       .arg(place_.plugin, place_.interface, error);
        return CanStatus::kIllegalHardware;
    }
    device->setParent(this);
    // SocketCAN interfaces get their bit rate from the system; the plugin is usually not allowed to set
    // it, so the adapter checks it after opening instead. Qt's virtual bus has no bit timing at all.
    const bool setsRate = !isSocketCan() && !isVirtual();
    if (setsRate)
        device->setConfigurationParameter(QCanBusDevice::BitRateKey, bitsPerSecond);

    bool opened = device->connectDevice();
    if (opened && device->state() == QCanBusDevice::ConnectingState) {
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(device, &QCanBusDevice::stateChanged, &loop, [&](QCanBusDevice::CanBusDeviceState s) {
            if (s != QCanBusDevice::ConnectingState)
                loop.quit();
        });
        limit.start(kConnectTimeLimitMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    opened = device->state() == QCanBusDevice::ConnectedState;
    if (!opened) {
        problem_ = QStringLiteral("The CAN interface \"%1\" (plugin %2) is not there or cannot be opened: %3")
                       .arg(place_.interface, place_.plugin, device->errorString());
        device->disconnectDevice();
        delete device;
        return CanStatus::kIllegalHardware;
    }
    device_ = device;
    lost_ = false;
    overrun_ = false;
    queue_.clear();
    if (setsRate) {
        const QVariant actual = device_->configurationParameter(QCanBusDevice::BitRateKey);
        if (!actual.isValid() || actual.toInt() != bitsPerSecond) {
            close();
            problem_ = QStringLiteral("The CAN interface \"%1\" (plugin %2) did not take the bit rate %3.")
                           .arg(place_.interface, place_.plugin, canRateText(bitsPerSecond));
            return CanStatus::kParameterValue;
        }
    }
    connect(device_, &QCanBusDevice::framesReceived, this, &QtCanPluginPort::takeFrames);
    connect(device_, &QCanBusDevice::stateChanged, this, [this](QCanBusDevice::CanBusDeviceState s) {
        if (s == QCanBusDevice::UnconnectedState && device_) {
            lost_ = true;
            problem_ = lostText(device_->errorString());
        }
    });
    return CanStatus::kOk;
}

void QtCanPluginPort::takeFrames() {
    if (!device_)
        return;
    // readAllFrames, not a readFrame loop: a virtual bus that lost its server keeps reporting frames
    // that can never be read, and a loop on framesAvailable would spin for ever.
    const QList<QCanBusFrame> frames = device_->readAllFrames();
    for (const QCanBusFrame& frame : frames) {
        if (!frame.isValid())
            continue;
        CanMessage m;
        if (frame.frameType() == QCanBusFrame::ErrorFrame) {
            continue; // bus errors show as failing writes; the queue carries data only
        }
        if (frame.frameType() != QCanBusFrame::DataFrame || frame.hasFlexibleDataRateFormat())
            continue;
        m.id = frame.frameId();
        m.type = frame.hasExtendedFrameFormat() ? 2 : 0;
        const QByteArray payload = frame.payload();
        m.length = static_cast<std::uint8_t>(std::min<qsizetype>(payload.size(), 8));
        for (int i = 0; i < m.length; ++i)
            m.data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(payload[i]);
        if (queue_.size() >= CanAdapter::kQueueLimit) {
            queue_.pop_front();
            overrun_ = true;
        }
        queue_.push_back(m);
    }
}

std::uint32_t QtCanPluginPort::write(const CanMessage& message) {
    if (!device_ || lost_ || device_->state() != QCanBusDevice::ConnectedState)
        return CanStatus::kIllegalHardware;
    if (message.length > 8 || message.type != 0)
        return CanStatus::kParameterValue;
    QCanBusFrame frame(message.id & 0x7FF,
                       QByteArray(reinterpret_cast<const char*>(message.data.data()), message.length));
    if (!device_->writeFrame(frame))
        return CanStatus::kTransmitFull;
    // Written means the plugin has let go of the frame, not merely queued it.
    if (!waitUntilWritten(kWriteTimeLimitMs))
        return lost_ ? CanStatus::kIllegalHardware : CanStatus::kTransmitFull;
    return CanStatus::kOk;
}

bool QtCanPluginPort::waitUntilWritten(int ms) {
    if (!device_)
        return false;
    if (device_->framesToWrite() == 0)
        return true;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto written = connect(device_, &QCanBusDevice::framesWritten, &loop, [&] {
        if (device_->framesToWrite() == 0)
            loop.quit();
    });
    const auto changed = connect(device_, &QCanBusDevice::stateChanged, &loop, &QEventLoop::quit);
    const auto failed = connect(device_, &QCanBusDevice::errorOccurred, &loop, &QEventLoop::quit);
    limit.start(ms);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    disconnect(written);
    disconnect(changed);
    disconnect(failed);
    if (device_->state() != QCanBusDevice::ConnectedState && !lost_) {
        lost_ = true;
        problem_ = lostText(device_->errorString());
    }
    return device_->framesToWrite() == 0 && !lost_;
}

QString QtCanPluginPort::lostText(const QString& reason) const {
    if (!reason.isEmpty())
        return QStringLiteral("The CAN interface \"%1\" (plugin %2) went away: %3")
            .arg(place_.interface, place_.plugin, reason);
    return QStringLiteral("The CAN interface \"%1\" (plugin %2) went away; the plugin gave no reason.")
        .arg(place_.interface, place_.plugin);
}

std::uint32_t QtCanPluginPort::read(CanMessage* message) {
    if (!device_) {
        *message = CanMessage{};
        return CanStatus::kIllegalHardware;
    }
    if (!lost_ && device_->state() != QCanBusDevice::ConnectedState)
        lost_ = true;
    if (lost_) {
        *message = CanMessage{};
        message->length = CanStatus::kAdapterLostLength;
        if (problem_.isEmpty())
            problem_ = lostText(device_->errorString());
        return CanStatus::kIllegalHardware;
    }
    takeFrames();
    if (overrun_) {
        overrun_ = false;
        *message = CanMessage{};
        return CanStatus::kQueueOverrun;
    }
    if (queue_.empty()) {
        *message = CanMessage{};
        return CanStatus::kQueueEmpty;
    }
    *message = queue_.front();
    queue_.pop_front();
    return CanStatus::kOk;
}

std::uint32_t QtCanPluginPort::close() {
    if (!device_)
        return CanStatus::kOk;
    // Frames still with the plugin go out first: the last command of a session must reach the bus.
    if (!lost_)
        waitUntilWritten(kCloseTimeLimitMs);
    QCanBusDevice* device = device_;
    device_ = nullptr;
    device->disconnect(this);
    device->disconnectDevice();
    // A plugin that closes in steps (the virtual bus takes its leave of the server after the frames
    // written before) is given the time to finish before it is deleted.
    if (device->state() == QCanBusDevice::ClosingState) {
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(device, &QCanBusDevice::stateChanged, &loop, [&](QCanBusDevice::CanBusDeviceState s) {
            if (s == QCanBusDevice::UnconnectedState)
                loop.quit();
        });
        limit.start(kCloseTimeLimitMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    delete device;
    queue_.clear();
    lost_ = false;
    return CanStatus::kOk;
}

void QtCanPluginPort::waitForFrames(int ms) {
    if (!device_ || !queue_.empty() || lost_) {
        return;
    }
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto arrived = connect(device_, &QCanBusDevice::framesReceived, &loop, &QEventLoop::quit);
    const auto changed = connect(device_, &QCanBusDevice::stateChanged, &loop, &QEventLoop::quit);
    limit.start(std::max(1, ms));
    // Clicks wait until the exchange is over: a page switched meanwhile would start its own exchange
    // inside this one.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    disconnect(arrived);
    disconnect(changed);
}

} // namespace tarvo
