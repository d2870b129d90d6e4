#include "SimulatedPort.h"

#include "Line.h"
#include "SimulatedPorts.h"

#include <QEventLoop>
#include <QTimer>

namespace devsim {

SimulatedPort::SimulatedPort(QObject* parent) : tarvo::SerialPort(parent) {}

SimulatedPort::~SimulatedPort() {
    close();
}

void SimulatedPort::setPortNumber(int number) {
    if (number == portNumber_)
        return;
    close();
    portNumber_ = number;
}

void SimulatedPort::setBaudRate(qint32 baud) {
    baud_ = baud;
    if (line_)
        line_->setHostBaud(baud);
}

bool SimulatedPort::open(QString* error) {
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (isOpen())
        return fail(QStringLiteral("COM%1 is already open").arg(portNumber_));
    Line* line = SimulatedPorts::line(portNumber_);
    if (!line)
        return fail(QStringLiteral("COM%1: no such port").arg(portNumber_));
    if (SimulatedPort* other = SimulatedPorts::openPort(portNumber_); other && other != this)
        return fail(QStringLiteral("COM%1: port is busy").arg(portNumber_));
    line_ = line;
    SimulatedPorts::setOpenPort(portNumber_, this);
    line->setHostBaud(baud_);
    connection_ = connect(line, &Line::toHost, this, &SimulatedPort::fromLine);
    input_.clear();
    return true;
}

void SimulatedPort::close() {
    if (!line_ && !connection_)
        return;
    disconnect(connection_);
    connection_ = {};
    line_ = nullptr;
    input_.clear();
    if (SimulatedPorts::openPort(portNumber_) == this)
        SimulatedPorts::setOpenPort(portNumber_, nullptr);
}

bool SimulatedPort::write(const QByteArray& bytes) {
    if (!line_)
        return false;
    line_->hostWrite(bytes, baud_);
    return true;
}

QByteArray SimulatedPort::readAll() {
    QByteArray bytes;
    bytes.swap(input_);
    return bytes;
}

bool SimulatedPort::readByte(char* byte) {
    if (input_.isEmpty())
        return false;
    if (byte)
        *byte = input_.front();
    input_.remove(0, 1);
    return true;
}

void SimulatedPort::fromLine(const QByteArray& bytes) {
    input_ += bytes;
    emit bytesArrived();
    announce();
}

void SimulatedPort::announce() {
    // Like a real port: no readyRead inside its own handler; data that came meanwhile is announced after.
    if (announcing_) {
        arrivedWhileAnnouncing_ = true;
        return;
    }
    announcing_ = true;
    arrivedWhileAnnouncing_ = false;
    emit readyRead();
    announcing_ = false;
    if (arrivedWhileAnnouncing_ && !input_.isEmpty())
        QTimer::singleShot(0, this, [this] {
            if (!input_.isEmpty())
                announce();
        });
}

bool SimulatedPort::waitForReadyRead(int ms) {
    if (!line_)
        return false;
    if (!input_.isEmpty())
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool arrived = false; // a readyRead handler may already have read what came
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &SimulatedPort::bytesArrived, &loop, [&] {
        arrived = true;
        loop.quit();
    });
    timer.start(std::max(0, ms));
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return arrived || !input_.isEmpty();
}

void SimulatedPort::simulateUnplug(const QString& reason) {
    if (!isOpen())
        return;
    close();
    emit lost(reason);
}

} // namespace devsim
