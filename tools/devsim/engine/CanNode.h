#pragma once

#include <QCanBusFrame>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QCanBusDevice;

namespace devsim {

class Device;
class Line;

// The devices of one line as one node on a CAN bus: parameter requests on 0x600 + node are answered on
// 0x580 + node from the devices' own command set, network start and stop switch the process frames, and
// the two command channels (0x200 and 0x300 + node: device address, mask) start streams and actions.
class CanNode : public QObject {
    Q_OBJECT
public:
    explicit CanNode(Line& line, int nodeId = 1, QObject* parent = nullptr);
    ~CanNode() override;

    // Joins the bus through a Qt CAN plugin ("virtualcan", "socketcan", ...) and interface.
    bool open(const QString& plugin, const QString& interface, QString* error);
    void close();
    int nodeId() const { return nodeId_; }
    bool operational() const { return operational_; }

    // "delay MS": parameter answers go out MS late; "short N": answers carry only their first N bytes
    // (8 again for whole ones). "ok" or "error: ...".
    QString control(const QString& command);

    // Every frame the node heard, in order.
    QList<QCanBusFrame> heard() const { return heard_; }
    void clearHeard() { heard_.clear(); }

private:
    struct Target {
        Device* device = nullptr;
        QByteArray mnemonic;
        int kind = -1;
        int format = 0;
    };
    void framesReceived();
    void handle(const QCanBusFrame& frame);
    void parameterRequest(const QByteArray& data);
    void processCommand(int channel, const QByteArray& data);
    Target targetFor(quint16 index, quint8 sub, qint32 value, bool write) const;
    QByteArray ask(Device* device, const QByteArray& line);
    void deviceOutput(Device* device, bool reply);
    void sendProcessFrames(Device* device);
    void send(quint32 id, const QByteArray& payload);
    // Sends the held answers that are due, in their order.
    void sendDueAnswers();

    Line& line_;
    int nodeId_;
    QCanBusDevice* bus_ = nullptr;
    bool operational_ = false;
    bool capturing_ = false;
    QByteArray captured_;
    int framesSinceTare_ = 0;
    QList<QCanBusFrame> heard_;
    int answerDelayMs_ = 0;
    // Answers held back, in the order they are due (ms on answerClock_).
    struct HeldAnswer {
        qint64 due;
        quint32 id;
        QByteArray bytes;
    };
    QList<HeldAnswer> answers_;
    QElapsedTimer answerClock_;
    QTimer answerTimer_;
    int answerLength_ = 8;
};

} // namespace devsim
