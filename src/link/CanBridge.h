#pragma once

#include "CanAdapter.h"
#include "CanExchange.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace tarvo {

class CanLineParser;
class Operator;
struct CommandEntry;

// Carries the device's ASCII command lines over the CAN bus: each line becomes parameter frames, network
// commands or process commands, and the answer comes back as the text a serial device would have sent.
// A 50 ms poll turns the device's process frames into the same stream lines and P packets.
class CanBridge : public QObject, public CanExchange {
    Q_OBJECT
public:
    using LineCallback = std::function<void(QByteArrayView line)>;
    using FrameCallback =
        std::function<void(int functionCode, int length, const std::array<std::uint8_t, 8>& data)>;

    CanBridge(CanAdapter& adapter, Operator& op, QObject* parent = nullptr);
    ~CanBridge() override;

    // One command line; the reply text, or nothing when the line sets none.
    std::optional<QByteArray> exchange(const QByteArray& commandLine) override;

    // Accepted below 64, ignored otherwise.
    void setDeviceAddress(int address);
    int deviceAddress() const { return deviceAddress_; }
    // The CAN node id, 1..126.
    void setNodeId(int nodeId);
    int nodeId() const { return nodeId_; }
    // The speed selector's position, restored without closing or telling anything.
    void setSpeedPosition(int position);
    int speedPosition() const { return speedPosition_; }
    // The operator chose another speed: the interface closes and the register value is shown.
    void speedChosen(int position);
    // A bound on each whole exchange in real milliseconds (tarvo-cli send --timeout); 0 leaves the
    // bridge's own waits alone.
    void setTimeLimit(int ms) { timeLimitMs_ = std::max(0, ms); }
    // Errors are shown only while the CAN bus is the chosen link.
    void setErrorReporting(bool on) { reporting_ = on; }
    bool errorReporting() const { return reporting_; }

    // The program ends: the poll stops, the interface closes and nothing more is reported. The object
    // stays until its owner goes, since an exchange waiting below the caller may still return into it.
    void close();

    // False when the interface could not be opened or the network start not sent (reported).
    bool startProcessChannel();
    // Whether the device answered the last process-channel start's read of its decimal count (accepted or
    // refused): the start's frames are only sent, and this is the one sign that a device heard them.
    bool deviceHeardStart() const { return deviceHeardStart_; }
    // Whether a line starts the process channel ("SN", "SG", "SA", "GP...").
    static bool startsProcessChannel(QByteArrayView line);
    void stopProcessChannel();

    void setLineCallback(LineCallback callback) { lineCallback_ = std::move(callback); }
    void setFrameCallback(FrameCallback callback) { frameCallback_ = std::move(callback); }

    bool linkOpen() const { return linkOpen_; }
    int decimalCount() const { return decimalCount_; }
    char streamMode() const { return streamMode_; }
    double storedTare() const { return storedTare_; }
    // The table row of the command being (or last) executed, -1 for a line outside the table.
    int lastRow() const { return lastRow_; }

    // Reads the process frames that wait and hands their lines on.
    void pollTick();
    // One frame the poll read: process frames become stream lines, P packets or raw-frame calls; any
    // other frame is ignored.
    void frameReceived(const CanMessage& m);

    static constexpr int kPollMs = 50;

signals:
    // The adapter went away (unplugged, its bus server gone); the link is closed. What waits on the bus
    // ends now, as it does for a lost serial port.
    void adapterLost(const QString& reason);

public:
    // The most frames one poll takes, so a flooded bus cannot hold the program.
    static constexpr int kPollFrameLimit = 1000;

private:
    struct Answer {
        std::uint32_t code = 0;
        CanMessage message;
        bool refused() const { return (message.data[0] & 0x80) != 0; }
    };
    // What a request waits for: a read's value or a write's confirmation.
    enum class Request { Read, Write };
    // A request whose answer did not come in time, and may still come.
    struct Unanswered {
        Request kind = Request::Read;
        std::uint16_t index = 0;
        std::uint8_t sub = 0;
        QElapsedTimer since;
    };
    bool ensureOpen();
    std::uint32_t send(std::uint32_t id, std::initializer_list<std::uint8_t> bytes);
    std::uint32_t sendParameter(std::uint8_t command, std::uint16_t index, std::uint8_t sub,
                                std::int32_t value);
    std::uint32_t sendNetwork(std::uint8_t command);
    std::uint32_t sendProcessCommand(int channel, std::uint8_t mask);
    // Reads until the answer to the request for (index, sub) comes, a read fails, or polls reads spacingMs
    // apart found nothing (code kQueueEmpty).
    Answer awaitAnswer(Request kind, std::uint16_t index, std::uint8_t sub, int polls, int spacingMs);
    // Whether m is the chosen node's answer to a request of this kind for (index, sub).
    bool answers(const CanMessage& m, Request kind, std::uint16_t index, std::uint8_t sub) const;
    // Whether m is the late answer to the request that last went unanswered.
    bool lateAnswer(const CanMessage& m) const;
    std::uint32_t readFrame(CanMessage* message);
    // The object's value; answered (when given) says whether any answer came, a refusal included.
    std::optional<std::int32_t> readObject(std::uint16_t index, std::uint8_t sub, bool* answered = nullptr);
    // Reads the addressed device's decimal count (3 when it cannot be read); whether the device answered.
    bool readDecimals();
    void report(std::uint32_t code);
    void pause(int ms);
    // What is left of the exchange's time limit (ms), or `wanted` when there is none or more is left.
    qint64 timeLeft(qint64 wanted) const;

    QByteArray specialLine(const QByteArray& line);
    std::optional<QByteArray> parameter(const CommandEntry& row, std::uint16_t index, CanLineParser& parser);
    QByteArray setpoint(const CommandEntry& row, std::uint16_t index, CanLineParser& parser);
    QByteArray measured(const CommandEntry& row, std::uint16_t index);
    QByteArray confirmedAction(const CommandEntry& row, std::uint16_t index, std::int32_t value,
                               bool networkStop, int polls, int spacingMs);

    CanAdapter& adapter_;
    Operator& op_;
    QTimer pollTimer_;
    bool linkOpen_ = false;
    bool reporting_ = false;
    bool exchanging_ = false;
    bool polling_ = false;
    int deviceAddress_ = 0;
    int nodeId_ = 1;
    int speedPosition_ = 1;
    char streamMode_ = 'N';
    int decimalCount_ = 0;
    // Whether decimalCount_ came from the device now addressed (read, or written with "DP").
    bool decimalsKnown_ = false;
    bool deviceHeardStart_ = false;
    int lastRow_ = -1;
    int timeLimitMs_ = 0;
    std::optional<Unanswered> unanswered_;
    QElapsedTimer exchangeClock_;
    double storedTare_ = 0.0;
    LineCallback lineCallback_;
    FrameCallback frameCallback_;
    QByteArray line_;
};

} // namespace tarvo
