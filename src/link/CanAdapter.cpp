#include "CanAdapter.h"

#include "base/ReplacingFile.h"

#include "protocol/CommandTable.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <QVariant>
#include <SimpleIni.h>

namespace tarvo {

namespace {
constexpr int kConnectTimeLimitMs = 3000;
// How long a frame may wait in the plugin before its write counts as failed, and how long closing waits
// for frames still on their way and for the plugin to let go of the interface.
constexpr int kWriteTimeLimitMs = 1000;
constexpr int kCloseTimeLimitMs = 1000;

QString rateText(int bitsPerSecond) {
    return bitsPerSecond >= 1000000 ? QStringLiteral("%1 Mbit/s").arg(bitsPerSecond / 1000000)
                                    : QStringLiteral("%1 kbit/s").arg(bitsPerSecond / 1000);
}

SocketCanRate readSocketCanRate(const QString& interface) {
    QProcess ip;
    ip.start(QStringLiteral("ip"), {"-details", "-json", "link", "show", interface});
    const bool answered =
        ip.waitForFinished(2000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
    return SocketCanRate::fromIp(answered, answered ? ip.readAllStandardOutput() : QByteArray());
}
} // namespace

SocketCanRate SocketCanRate::fromIp(bool ipAnswered, const QByteArray& output) {
    SocketCanRate rate;
    if (!ipAnswered) {
        rate.reason = QStringLiteral("\"ip -details link show\" did not answer");
        return rate;
    }
    const QJsonArray links = QJsonDocument::fromJson(output).array();
    if (links.isEmpty() || !links.first().isObject()) {
        rate.reason = QStringLiteral("\"ip\" reported no such interface");
        return rate;
    }
    const QJsonObject info = links.first().toObject().value("linkinfo").toObject();
    const QString kind = info.value("info_kind").toString();
    if (kind == QLatin1String("vcan") || kind == QLatin1String("vxcan")) {
        rate.kind = Kind::NoRate;
        return rate;
    }
    const int bitrate =
        info.value("info_data").toObject().value("bittiming").toObject().value("bitrate").toInt(0);
    if (bitrate <= 0) {
        rate.reason = QStringLiteral("the interface reports no bit timing");
        return rate;
    }
    rate.kind = Kind::Known;
    rate.bitsPerSecond = bitrate;
    return rate;
}

CanAdapterPlace CanAdapterPlace::defaults() {
#ifdef Q_OS_WIN
    return {QStringLiteral("peakcan"), QStringLiteral("usb0")};
#else
    return {QStringLiteral("socketcan"), QStringLiteral("can0")};
#endif
}

CanAdapterPlace CanAdapterPlace::fromSettings(const QString& settingsPath) {
    CanAdapterPlace place = defaults();
    CSimpleIniA ini;
    // A settings file that is a pipe or a device is not waited on; the settings store says why.
    const std::optional<QByteArray> text = readRegularFile(settingsPath, kMaxSettingsFileBytes, nullptr);
    if (!text || ini.LoadData(text->constData(), static_cast<size_t>(text->size())) < 0)
        return place;
    const char* plugin = ini.GetValue("CAN", "Plugin", nullptr);
    const char* interface = ini.GetValue("CAN", "Interface", nullptr);
    if (plugin && *plugin)
        place.plugin = QString::fromUtf8(plugin).trimmed();
    if (interface && *interface)
        place.interface = QString::fromUtf8(interface).trimmed();
    return place;
}

CanAdapter::CanAdapter(CanAdapterPlace place, QObject* parent) : QObject(parent), place_(std::move(place)) {}

CanAdapter::~CanAdapter() {
    close();
}

std::uint32_t CanAdapter::init(std::uint16_t bitTiming, int type) {
    close();
    problem_.clear();
    notice_.clear();
    const int bitsPerSecond = canBitsPerSecond(bitTiming);
    if (bitsPerSecond == 0 || type != 0) {
        problem_ = QStringLiteral("The CAN speed register value %1 is not one this program knows.")
                       .arg(bitTiming, 4, 16, QLatin1Char('0'));
        return CanStatus::kParameterValue;
    }
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
    // it, so it is checked after opening instead. Qt's virtual bus has no bit timing at all.
    const bool systemRate = place_.plugin == QLatin1String("socketcan");
    if (!systemRate && !isVirtual())
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
    if (!bitRateTook(bitsPerSecond)) {
        const QString plainWords = problem_;
        close();
        problem_ = plainWords;
        return CanStatus::kParameterValue;
    }
    connect(device_, &QCanBusDevice::framesReceived, this, &CanAdapter::takeFrames);
    connect(device_, &QCanBusDevice::stateChanged, this, [this](QCanBusDevice::CanBusDeviceState s) {
        if (s == QCanBusDevice::UnconnectedState && device_) {
            lost_ = true;
            problem_ = lostText(device_->errorString());
        }
    });
    return CanStatus::kOk;
}

bool CanAdapter::bitRateTook(int bitsPerSecond) {
    const QString command =
        QStringLiteral("ip link set %1 type can bitrate %2").arg(place_.interface).arg(bitsPerSecond);
    if (place_.plugin == QLatin1String("socketcan")) {
        const SocketCanRate actual = readSocketCanRate(place_.interface);
        if (actual.kind == SocketCanRate::Kind::NoRate ||
            (actual.kind == SocketCanRate::Kind::Known && actual.bitsPerSecond == bitsPerSecond))
            return true;
        if (actual.kind == SocketCanRate::Kind::Unknown) {
            // Opened, but nobody can tell at which rate: the operator hears it rather than guessing.
            notice_ =
                QStringLiteral("The bit rate of CAN interface \"%1\" could not be read back (%2), so it "
                               "may not run at the chosen %3. Its bit rate is set by the system: %4")
                    .arg(place_.interface, actual.reason, rateText(bitsPerSecond), command);
            return true;
        }
        problem_ =
            QStringLiteral("The CAN interface \"%1\" runs at %2, not at the chosen %3. Its bit rate is "
                           "set by the system: %4")
                .arg(place_.interface, rateText(actual.bitsPerSecond), rateText(bitsPerSecond), command);
        return false;
    }
    if (isVirtual())
        return true;
    const QVariant actual = device_->configurationParameter(QCanBusDevice::BitRateKey);
    if (actual.isValid() && actual.toInt() == bitsPerSecond)
        return true;
    problem_ = QStringLiteral("The CAN interface \"%1\" (plugin %2) did not take the bit rate %3.")
                   .arg(place_.interface, place_.plugin, rateText(bitsPerSecond));
    return false;
}

void CanAdapter::takeFrames() {
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
        if (queue_.size() >= kQueueLimit) {
            queue_.pop_front();
            overrun_ = true;
        }
        queue_.push_back(m);
    }
}

std::uint32_t CanAdapter::write(const CanMessage& message) {
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

bool CanAdapter::waitUntilWritten(int ms) {
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

QString CanAdapter::lostText(const QString& reason) const {
    if (!reason.isEmpty())
        return QStringLiteral("The CAN interface \"%1\" (plugin %2) went away: %3")
            .arg(place_.interface, place_.plugin, reason);
    return QStringLiteral("The CAN interface \"%1\" (plugin %2) went away; the plugin gave no reason.")
        .arg(place_.interface, place_.plugin);
}

std::uint32_t CanAdapter::read(CanMessage* message) {
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

std::uint32_t CanAdapter::close() {
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

void CanAdapter::waitForFrames(int ms) {
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
