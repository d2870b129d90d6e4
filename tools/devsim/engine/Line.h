#pragma once

#include "Device.h"
#include "DeviceConfig.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace devsim {

// One serial line with one or more devices on it. The host's bytes come in with the host's rate;
// a device hears them only at its own rate, and what it sends while the rates differ reaches the host
// as garbage. Faults injected here act on every device of the line.
class Line : public QObject {
    Q_OBJECT
public:
    enum class Fault { None, Silent, Late, Err, Garbage, Overlong, Overrange, Underrange, Noisy };

    struct Received {
        QByteArray bytes;
        int baud = 0;
        bool operator==(const Received&) const = default;
    };

    explicit Line(QObject* parent = nullptr);
    ~Line() override;

    // A device with an address starts unselected and answers once "OP" + its address opened it.
    Device* addDevice(const DeviceConfig& config);
    QList<Device*> devices() const;
    Device* device(int address) const;

    // Bytes the host wrote at its current rate. Replies come later through toHost.
    void hostWrite(const QByteArray& bytes, int hostBaud);
    // The host's rate when it changes without writing (a port switched to another rate).
    void setHostBaud(int baud) { hostBaud_ = baud; }
    // Where the host's rate is read from at each delivery (the pseudo-terminal's settings), if set.
    void setHostBaudSource(std::function<int()> source) { hostBaudSource_ = std::move(source); }
    int hostBaud() const;

    // late: replies come lateMs (device time) later than usual. overlong: only the next reply.
    void setFault(Fault fault, int lateMs = 0);
    Fault fault() const { return fault_; }
    static bool parseFault(const QString& name, Fault* fault);
    // Device time between a command's end and its reply.
    void setLatencyMs(int deviceMs) { latencyMs_ = deviceMs; }
    int latencyMs() const { return latencyMs_; }
    void setResetMs(int deviceMs);
    // Wire time: every byte takes its ten bit times at its rate, both ways, as on a real line. The host's
    // bytes reach the devices one by one when their last bit is in, and what a device sends arrives
    // when its last byte is through. Off, bytes cross at once.
    void setWireTime(bool on) { wireTime_ = on; }
    bool wireTime() const { return wireTime_; }
    // One byte's time on the wire at a rate, in nanoseconds: a start bit, eight data bits, a stop bit.
    static qint64 byteNs(int baud);

    QList<Received> receivedLog() const { return received_; }
    // Everything received, split after each "\r" (a trailing part without "\r" is the last entry); each
    // line carries the host rate of its last byte.
    QList<Received> receivedLines() const;
    // Only the texts of receivedLines().
    QList<QByteArray> receivedTexts() const;
    void clearReceived() { received_.clear(); }
    // Everything delivered to the host so far.
    QByteArray sentToHost() const { return sent_; }
    void clearSent() { sent_.clear(); }

signals:
    void toHost(const QByteArray& bytes);

private:
    struct Pending {
        qint64 dueNs;
        QByteArray bytes;
        int deviceBaud;
    };
    // A host byte on its way to the devices (wire time only).
    struct Inbound {
        qint64 dueNs;
        char byte;
        int baud;
    };
    void deviceOutput(Device* device, const QByteArray& bytes, bool reply);
    void enqueue(qint64 delayMs, const QByteArray& bytes, int deviceBaud);
    void enqueueAt(qint64 dueNs, const QByteArray& bytes, int deviceBaud);
    void deliverInbound(qint64 now);
    void deliverDue();
    void scheduleNext();
    void applyFaultToDevices();
    QByteArray garbage(qsizetype size);
    static QByteArray wrongRateNoise(qsizetype size);

    std::vector<std::unique_ptr<Device>> devices_;
    int hostBaud_ = 9600;
    std::function<int()> hostBaudSource_;
    Fault fault_ = Fault::None;
    int lateMs_ = 0;
    int latencyMs_ = 5;
    QList<Received> received_;
    QByteArray sent_;
    std::deque<Pending> pending_; // ordered by due time, equal times in order of sending
    bool wireTime_ = false;
    std::deque<Inbound> inbound_;
    qint64 inboundBusyNs_ = 0;  // when the host's last byte so far is through
    qint64 outboundBusyNs_ = 0; // when the devices' last byte so far is through
    qint64 wireNowNs_ = -1;     // while a host byte is delivered: the moment it arrived
    QTimer deliveryTimer_;      // where no timerfd can be had
    int deliveryFd_ = -1;       // a timerfd that wakes at the next delivery's time
    std::unique_ptr<QSocketNotifier> deliveryNotifier_;
    QElapsedTimer clock_;
    QRandomGenerator random_{20240611u};
};

} // namespace devsim
