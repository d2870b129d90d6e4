#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

namespace tarvo {

// One frame as the adapter hands it over: an 11-bit identifier, the message type (0 = standard data
// frame), the length 0..8 and eight data bytes.
struct CanMessage {
    std::uint32_t id = 0;
    std::uint8_t type = 0;
    std::uint8_t length = 0;
    std::array<std::uint8_t, 8> data{};
};

// The adapter's status codes: 0 is success, every other code a set of bits.
namespace CanStatus {
inline constexpr std::uint32_t kOk = 0x0000;
inline constexpr std::uint32_t kTransmitFull = 0x0001;
inline constexpr std::uint32_t kOverrun = 0x0002;
inline constexpr std::uint32_t kBusLight = 0x0004;
inline constexpr std::uint32_t kBusHeavy = 0x0008;
inline constexpr std::uint32_t kBusOff = 0x0010;
inline constexpr std::uint32_t kQueueEmpty = 0x0020;
inline constexpr std::uint32_t kQueueOverrun = 0x0040;
inline constexpr std::uint32_t kQueueTransmitFull = 0x0080;
inline constexpr std::uint32_t kRegisterTest = 0x0100;
inline constexpr std::uint32_t kNoDriver = 0x0200;
inline constexpr std::uint32_t kIllegalHardware = 0x1400;
inline constexpr std::uint32_t kIllegalNet = 0x1800;
inline constexpr std::uint32_t kResource = 0x2000;
inline constexpr std::uint32_t kParameterType = 0x4000;
inline constexpr std::uint32_t kParameterValue = 0x8000;
inline constexpr std::uint32_t kWaitTimeout = 258;
// A read that returns a code with a length above 8 tells that the adapter itself went away.
inline constexpr std::uint8_t kAdapterLostLength = 0xFF;
} // namespace CanStatus

// Which Qt CAN plugin and interface stand for the PC's CAN adapter: "Tarvo.ini", section CAN, keys
// Plugin and Interface.
struct CanAdapterPlace {
    QString plugin;
    QString interface;
    static CanAdapterPlace defaults();
    static CanAdapterPlace fromSettings(const QString& settingsPath);
};

// What "ip -details -json link show IFACE" tells of a SocketCAN interface's bit rate. A virtual interface
// (vcan, vxcan) has none; Unknown carries the reason in plain words.
struct SocketCanRate {
    enum class Kind { Known, NoRate, Unknown };
    Kind kind = Kind::Unknown;
    int bitsPerSecond = 0;
    QString reason;
    // ipAnswered: "ip" ran and exited 0; output: what it printed.
    static SocketCanRate fromIp(bool ipAnswered, const QByteArray& output);
};

// How a bit rate reads in messages: "125 kbit/s", "1 Mbit/s".
inline QString canRateText(int bitsPerSecond) {
    return bitsPerSecond >= 1000000 ? QStringLiteral("%1 Mbit/s").arg(bitsPerSecond / 1000000)
                                    : QStringLiteral("%1 kbit/s").arg(bitsPerSecond / 1000);
}

class CanPluginPort;

// The PC's CAN adapter with the four calls the bridge was written for: init, write, read, close. Frames
// that arrive wait in a bounded queue until read. Opened through a Qt CAN plugin (link/BusModule.h), so
// PEAK's adapter (socketcan or peakcan), any other SocketCAN interface and Qt's virtual bus all serve.
class CanAdapter : public QObject {
    Q_OBJECT
public:
    explicit CanAdapter(CanAdapterPlace place, QObject* parent = nullptr);
    ~CanAdapter() override;

    // Opens the interface at the bit rate the bit-timing value stands for; type 0 asks for standard
    // frames. 0 on success, otherwise a status code, with problem() saying what went wrong.
    std::uint32_t init(std::uint16_t bitTiming, int type);
    // 0 once the plugin has written the frame; an error code when it refused it or still held it after a
    // time limit.
    std::uint32_t write(const CanMessage& message);
    // 0 with a frame; kQueueEmpty when none waits; kIllegalHardware with length kAdapterLostLength when
    // the interface went away.
    std::uint32_t read(CanMessage* message);
    // Lets the frames still with the plugin go out (bounded), then closes the interface.
    std::uint32_t close();

    bool isOpen() const;
    // The last failure in plain words (empty when the last init succeeded).
    const QString& problem() const;
    // After a successful init: what the operator should still be told (a bit rate that could not be
    // read back), else empty.
    const QString& notice() const { return notice_; }
    const CanAdapterPlace& place() const { return place_; }

    // Waits, running the event loop, until a frame is queued or ms (real milliseconds) have passed.
    void waitForFrames(int ms);

    // How many frames may wait unread; older ones are dropped beyond it.
    static constexpr std::size_t kQueueLimit = 4096;

private:
    // A SocketCAN interface's rate is the system's: read back after opening.
    bool systemRateIs(int bitsPerSecond);

    CanAdapterPlace place_;
    std::unique_ptr<CanPluginPort> port_;
    QString problem_;
    QString notice_;
};

} // namespace tarvo
