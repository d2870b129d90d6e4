#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <array>
#include <optional>

namespace tarvo {

// Maps the program's COM numbers 1..8 to device paths. Resolved once at start, before the port probe:
// a COM number configured in "Tarvo.ini" (section ComPorts) takes that path (an empty value means "no
// port"); the others take, in turn, the system's serial ports that no key names, USB adapters first.
class ComPortMap {
public:
    static constexpr int kCount = 8;

    struct SystemPort {
        QString name;     // "ttyUSB0", "COM3"
        QString location; // "/dev/ttyUSB0"
    };

    ComPortMap() = default;
    // configured: COM number -> value of its key, for the keys present.
    static ComPortMap resolve(const QMap<int, QString>& configured, QList<SystemPort> system);
    // The system's serial ports, the same ones QSerialPortInfo reports. On Linux read from sysfs
    // directly: asking udev costs the program's start several milliseconds.
    static QList<SystemPort> systemPorts();
    // The ComPorts section of an INI file (missing file: no keys).
    static QMap<int, QString> readConfigured(const QString& iniPath);

    // Empty when that COM number has no port.
    QString path(int com) const;
    void setPath(int com, const QString& path);

private:
    std::array<QString, kCount> paths_;
};

} // namespace tarvo
