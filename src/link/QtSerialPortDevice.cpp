#include "QtSerialPortDevice.h"

#include "PortAccess.h"
#include "base/ReplacingFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <thread>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace tarvo {

namespace {

// Why a path is no port where the driver says only "No error" (of a pipe, a folder, a file or a device
// that is no terminal). Empty where the driver's own reason stands.
QString notAPortReason(const QString& path, const QSerialPort& port) {
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return qt_error_string(errno);
    if (S_ISREG(info.st_mode))
        return QStringLiteral("Is a plain file, not a serial port");
    if (!S_ISCHR(info.st_mode))
        return QStringLiteral("Is %1, not a serial port").arg(fileKindName(info.st_mode));
    // A device is not opened again to ask: a real port's modem lines would rise.
    return port.error() == QSerialPort::NoError || port.errorString() == QLatin1String("No error")
               ? QStringLiteral("Not a serial port")
               : QString();
#else
    Q_UNUSED(path);
    Q_UNUSED(port);
    return {};
#endif
}

} // namespace

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
        // A port this user may open that still refuses is held by another program: its lock file, or
        // the exclusive use the other program took (EBUSY).
        if (error) {
            const QString notAPort =
                port_.error() == QSerialPort::PermissionError ? QString() : notAPortReason(path, port_);
            *error = PortAccess::isPermissionDenied(path) ? QString::fromLatin1(PortAccess::kPermissionDenied)
                     : port_.error() == QSerialPort::PermissionError
                         ? PortAccess::inUseText(port_.errorString())
                     : !notAPort.isEmpty() ? notAPort
                                           : port_.errorString();
        }
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

bool QtSerialPortDevice::drainOutput(int timeLimitMs) {
    if (!port_.isOpen())
        return false;
    QElapsedTimer clock;
    clock.start();
    // Qt's own buffer goes to the driver first, then the driver's queue onto the wire.
    while (port_.bytesToWrite() > 0) {
        const qint64 left = timeLimitMs - clock.elapsed();
        if (left <= 0 || !port_.waitForBytesWritten(int(left)))
            break;
    }
    if (port_.bytesToWrite() > 0)
        return false;
#if defined(Q_OS_UNIX)
    const int fd = int(port_.handle());
    for (;;) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return true;
        if (clock.elapsed() >= timeLimitMs)
            return false;
        // A byte takes about a millisecond at 9600 baud; a short poll keeps the pace close to the wire's.
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
#elif defined(Q_OS_WIN)
    return ::FlushFileBuffers(reinterpret_cast<HANDLE>(port_.handle())) != 0;
#else
    return true;
#endif
}

void QtSerialPortDevice::setDtr(bool on) {
    if (!port_.isOpen())
        return;
    // A pseudo-terminal has no modem lines; that must not look like a lost adapter.
    if (!port_.setDataTerminalReady(on))
        port_.clearError();
}

bool QtSerialPortDevice::hungUp() const {
#ifdef Q_OS_UNIX
    // A line whose far end is gone reads as "nothing" for ever: the descriptor says hang-up instead.
    pollfd descriptor{static_cast<int>(port_.handle()), POLLIN, 0};
    return descriptor.fd >= 0 && ::poll(&descriptor, 1, 0) > 0 &&
           (descriptor.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return false;
#endif
}

void QtSerialPortDevice::loseLine(const QString& reason) {
    port_.clearError();
    port_.close();
    emit lost(reason);
}

void QtSerialPortDevice::onError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::ResourceError || error == QSerialPort::PermissionError) {
        // A hung-up line leaves a stale reason behind ("Resource temporarily unavailable"); what every
        // further read or write on it gets is the honest one.
        if (port_.isOpen())
            loseLine(hungUp() ? qt_error_string(EIO) : port_.errorString());
    } else if (error == QSerialPort::ReadError || error == QSerialPort::WriteError ||
               error == QSerialPort::UnknownError) {
        // An adapter pulled out, or a pseudo-terminal whose other side closed: every read returns nothing
        // and the port would be polled in a busy loop. The line is lost.
        if (port_.isOpen() && hungUp())
            loseLine(qt_error_string(EIO));
        else
            port_.clearError();
    } else if (error == QSerialPort::TimeoutError || error == QSerialPort::UnsupportedOperationError) {
        port_.clearError();
    }
}

} // namespace tarvo
