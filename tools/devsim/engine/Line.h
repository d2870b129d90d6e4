#pragma once

#include "Device.h"
#include "DeviceConfig.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
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
    enum class Fault { None, Silent, Late, Err, Garbage, Overlong, Overrange, Underrange };

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
        qint64 dueMs;
        QByteArray bytes;
        int deviceBaud;
    };
    void deviceOutput(Device* device, const QByteArray& bytes, bool reply);
    void enqueue(qint64 delayMs, const QByteArray& bytes, int deviceBaud);
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
    QTimer deliveryTimer_;
    QElapsedTimer clock_;
    QRandomGenerator random_{20240611u};
};

} // namespace devsim
