#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tarvo {

// The serial port as the communication unit needs it. Ports are chosen by COM number (1..8); how a
// number becomes a device is the implementation's business (see ComPortMap).
class SerialPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialPort() override = default;

    // Changing the number of an open port closes it, so the number always names the device the port is
    // open on; the caller opens it again.
    virtual void setPortNumber(int number) = 0;
    virtual int portNumber() const = 0;
    // An open port changes its rate at once.
    virtual void setBaudRate(qint32 baud) = 0;
    virtual qint32 baudRate() const = 0;
    virtual void setDataBits(int bits) = 0;
    // 0 = none, as the device protocol uses it.
    virtual void setParity(int parity) = 0;

    // Opening an absent or busy port fails with a reason.
    virtual bool open(QString* error = nullptr) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    virtual void clearInput() = 0;
    virtual void clearOutput() = 0;
    virtual bool write(const QByteArray& bytes) = 0;
    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray readAll() = 0;
    virtual bool readByte(char* byte) = 0;
    // Waits until every byte written so far has left the port, at most timeLimitMs; false when they had
    // not (or the port is closed). A port whose writes reach their end at once has nothing to wait for.
    virtual bool drainOutput(int timeLimitMs) {
        (void)timeLimitMs;
        return isOpen();
    }
    // Blocks at most ms for incoming data; true when bytes are waiting.
    virtual bool waitForReadyRead(int ms) = 0;
    // Not every port has a DTR line (a pseudo-terminal has none); that is not an error.
    virtual void setDtr(bool on) = 0;

signals:
    void readyRead();
    // The open port went away (a USB adapter unplugged); the port is closed when this is emitted.
    void lost(const QString& reason);
};

} // namespace tarvo
