#pragma once

#include <link/SerialPort.h>

#include <QByteArray>
#include <QMetaObject>
#include <QPointer>

namespace devsim {

class Line;

// The program's serial port wired straight to a simulated line (chosen by COM number through
// SimulatedPorts), so tests run without pseudo-terminals and without real time on the wire.
class SimulatedPort : public tarvo::SerialPort {
    Q_OBJECT
public:
    explicit SimulatedPort(QObject* parent = nullptr);
    ~SimulatedPort() override;

    void setPortNumber(int number) override;
    int portNumber() const override { return portNumber_; }
    void setBaudRate(qint32 baud) override;
    qint32 baudRate() const override { return baud_; }
    void setDataBits(int bits) override { dataBits_ = bits; }
    void setParity(int parity) override { parity_ = parity; }

    bool open(QString* error = nullptr) override;
    void close() override;
    bool isOpen() const override { return !line_.isNull(); }

    void clearInput() override { input_.clear(); }
    void clearOutput() override {} // writes reach the line at once; nothing waits
    bool write(const QByteArray& bytes) override;
    qint64 bytesAvailable() const override { return input_.size(); }
    QByteArray readAll() override;
    bool readByte(char* byte) override;
    bool waitForReadyRead(int ms) override;
    void setDtr(bool) override {}

    int dataBits() const { return dataBits_; }
    int parity() const { return parity_; }
    // The adapter is pulled out: the port closes and emits lost.
    void simulateUnplug(const QString& reason = QStringLiteral("device removed"));

signals:
    // Internal: bytes arrived from the line (wakes waitForReadyRead).
    void bytesArrived();

private:
    void fromLine(const QByteArray& bytes);
    void announce();

    int portNumber_ = 1;
    qint32 baud_ = 9600;
    int dataBits_ = 8;
    int parity_ = 0;
    QPointer<Line> line_;
    QMetaObject::Connection connection_;
    QByteArray input_;
    bool announcing_ = false;
    bool arrivedWhileAnnouncing_ = false;
};

} // namespace devsim
