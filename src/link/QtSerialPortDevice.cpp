#include "QtSerialPortDevice.h"

#include "PortAccess.h"

namespace tarvo {

QtSerialPortDevice::QtSerialPortDevice(ComPortMap map, QObject* parent)
    : SerialPort(parent), map_(std::move(map)) {
    port_.setBaudRate(baud_);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    connect(&port_, &QSerialPort::readyRead, this, &SerialPort::readyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPortDevice::onError);
}

void QtSerialPortDevice::setPortNumber(int number) {
    if (number == number_)
        return;
    close();
    number_ = number;
    port_.setPortName(map_.path(number));
}

void QtSerialPortDevice::setBaudRate(qint32 baud) {
    baud_ = baud;
    if (baud > 0)
        port_.setBaudRate(baud);
}

void QtSerialPortDevice::setDataBits(int bits) {
    if (bits >= 5 && bits <= 8)
        port_.setDataBits(static_cast<QSerialPort::DataBits>(bits));
}

void QtSerialPortDevice::setParity(int parity) {
    // 0 none, 1 odd, 2 even, as the device protocol counts them.
    port_.setParity(parity == 1   ? QSerialPort::OddParity
                    : parity == 2 ? QSerialPort::EvenParity
                                  : QSerialPort::NoParity);
}

bool QtSerialPortDevice::open(QString* error) {
    if (port_.isOpen())
        port_.close();
    const QString path = map_.path(number_);
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("no port is mapped to COM%1").arg(number_);
        return false;
    }
    port_.setPortName(path);
    if (!port_.open(QIODevice::ReadWrite)) {
        if (error)
            *error = PortAccess::isPermissionDenied(path) ? QString::fromLatin1(PortAccess::kPermissionDenied)
                                                          : port_.errorString();
        port_.clearError();
        return false;
    }
    port_.setBaudRate(baud_);
    return true;
}

void QtSerialPortDevice::close() {
    if (port_.isOpen())
        port_.close();
}

void QtSerialPortDevice::clearInput() {
    if (!port_.isOpen())
        return;
    port_.readAll();
    port_.clear(QSerialPort::Input);
}

void QtSerialPortDevice::clearOutput() {
    if (port_.isOpen())
        port_.clear(QSerialPort::Output);
}

bool QtSerialPortDevice::write(const QByteArray& bytes) {
    if (!port_.isOpen())
        return false;
    const bool ok = port_.write(bytes) == bytes.size();
    // Hand the bytes to the driver now: callers often pause right after writing.
    port_.flush();
    return ok;
}

bool QtSerialPortDevice::waitForReadyRead(int ms) {
    if (!port_.isOpen())
        return false;
    if (port_.bytesAvailable() > 0)
        return true;
    return port_.waitForReadyRead(ms);
}

void QtSerialPortDevice::setDtr(bool on) {
    if (!port_.isOpen())
        return;
    // A pseudo-terminal has no modem lines; that must not look like a lost adapter.
    if (!port_.setDataTerminalReady(on))
        port_.clearError();
}

void QtSerialPortDevice::onError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::ResourceError || error == QSerialPort::PermissionError) {
        if (!port_.isOpen())
            return;
        const QString reason = port_.errorString();
        port_.clearError();
        port_.close();
        emit lost(reason);
    } else if (error == QSerialPort::TimeoutError || error == QSerialPort::UnsupportedOperationError) {
        port_.clearError();
    }
}

} // namespace tarvo
