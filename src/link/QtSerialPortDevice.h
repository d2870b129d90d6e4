#pragma once

#include "ComPortMap.h"
#include "SerialPort.h"

#include <QSerialPort>

namespace tarvo {

// The real serial port: QSerialPort on the device path that the COM number maps to.
class QtSerialPortDevice : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPortDevice(ComPortMap map, QObject* parent = nullptr);

    void setPortNumber(int number) override;
    int portNumber() const override { return number_; }
    void setBaudRate(qint32 baud) override;
    qint32 baudRate() const override { return baud_; }
    void setDataBits(int bits) override;
    void setParity(int parity) override;
    bool open(QString* error) override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    void clearInput() override;
    void clearOutput() override;
    bool write(const QByteArray& bytes) override;
    qint64 bytesAvailable() const override { return port_.bytesAvailable(); }
    QByteArray readAll() override { return port_.readAll(); }
    bool readByte(char* byte) override { return port_.getChar(byte); }
    bool waitForReadyRead(int ms) override;
    bool drainOutput(int timeLimitMs) override;
    void setDtr(bool on) override;

    const ComPortMap& map() const { return map_; }

private:
    void onError(QSerialPort::SerialPortError error);
    bool hungUp() const;
    // The port is closed and the owner told why.
    void loseLine(const QString& reason);
    ComPortMap map_;
    QSerialPort port_;
    int number_ = 1;
    qint32 baud_ = 9600;
};

} // namespace tarvo
