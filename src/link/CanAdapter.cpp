#include "CanAdapter.h"
#include "BusModule.h"

#include "base/ReplacingFile.h"

#include "protocol/CommandTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <SimpleIni.h>

namespace tarvo {

namespace {
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
    BusModule* bus = BusModule::load(&problem_);
    if (!bus)
        return CanStatus::kNoDriver;
    std::unique_ptr<CanPluginPort> port = bus->canPort(place_);
    if (const std::uint32_t status = port->open(bitsPerSecond); status != CanStatus::kOk) {
        problem_ = port->problem();
        return status;
    }
    port_ = std::move(port);
    if (place_.plugin == QLatin1String("socketcan") && !systemRateIs(bitsPerSecond)) {
        const QString plainWords = problem_;
        close();
        problem_ = plainWords;
        return CanStatus::kParameterValue;
    }
    return CanStatus::kOk;
}

bool CanAdapter::systemRateIs(int bitsPerSecond) {
    const QString command =
        QStringLiteral("ip link set %1 type can bitrate %2").arg(place_.interface).arg(bitsPerSecond);
    const SocketCanRate actual = readSocketCanRate(place_.interface);
    if (actual.kind == SocketCanRate::Kind::NoRate ||
        (actual.kind == SocketCanRate::Kind::Known && actual.bitsPerSecond == bitsPerSecond))
        return true;
    if (actual.kind == SocketCanRate::Kind::Unknown) {
        // Opened, but nobody can tell at which rate: the operator hears it rather than guessing.
        notice_ = QStringLiteral("The bit rate of CAN interface \"%1\" could not be read back (%2), so it "
                                 "may not run at the chosen %3. Its bit rate is set by the system: %4")
                      .arg(place_.interface, actual.reason, canRateText(bitsPerSecond), command);
        return true;
    }
    problem_ =
        QStringLiteral("The CAN interface \"%1\" runs at %2, not at the chosen %3. Its bit rate is "
                       "set by the system: %4")
            .arg(place_.interface, canRateText(actual.bitsPerSecond), canRateText(bitsPerSecond), command);
    return false;
}

bool CanAdapter::isOpen() const {
    return port_ && port_->isOpen();
}

const QString& CanAdapter::problem() const {
    return port_ ? port_->problem() : problem_;
}

std::uint32_t CanAdapter::write(const CanMessage& message) {
    return port_ ? port_->write(message) : CanStatus::kIllegalHardware;
}

std::uint32_t CanAdapter::read(CanMessage* message) {
    if (port_)
        return port_->read(message);
    *message = CanMessage{};
    return CanStatus::kIllegalHardware;
}

std::uint32_t CanAdapter::close() {
    if (!port_)
        return CanStatus::kOk;
    const std::uint32_t status = port_->close();
    // What went wrong stays to be told after the close.
    problem_ = port_->problem();
    port_.reset();
    return status;
}

void CanAdapter::waitForFrames(int ms) {
    if (port_)
        port_->waitForFrames(ms);
}

} // namespace tarvo
