#include "ComPortMap.h"

#include "base/ReplacingFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <SimpleIni.h>
#include <algorithm>

#ifdef Q_OS_LINUX
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace tarvo {

namespace {

bool isUsbAdapter(const QString& name) {
    return name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM"));
}

// "ttyS2" before "ttyS10": the trailing number compares as a number.
bool naturalLess(const QString& a, const QString& b) {
    auto split = [](const QString& s) {
        qsizetype i = s.size();
        while (i > 0 && s.at(i - 1).isDigit())
            --i;
        return std::pair<QString, qulonglong>(s.left(i), s.mid(i).toULongLong());
    };
    const auto [pa, na] = split(a);
    const auto [pb, nb] = split(b);
    if (pa != pb)
        return pa < pb;
    if (na != nb)
        return na < nb;
    return a < b;
}

#ifdef Q_OS_LINUX
bool isPresent8250(const QString& location) {
    const int fd =
        ::open(QFile::encodeName(location).constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct info{};
    const bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}
#endif

} // namespace

ComPortMap ComPortMap::resolve(const QMap<int, QString>& configured, QList<SystemPort> system) {
    ComPortMap map;
#ifdef Q_OS_WIN
    // On Windows COMn is the port's own name.
    for (int com = 1; com <= kCount; ++com)
        map.paths_[com - 1] =
            configured.contains(com) ? configured.value(com) : QStringLiteral("COM%1").arg(com);
    Q_UNUSED(system);
    return map;
#else
    std::stable_sort(system.begin(), system.end(), [](const SystemPort& a, const SystemPort& b) {
        const bool ua = isUsbAdapter(a.name), ub = isUsbAdapter(b.name);
        if (ua != ub)
            return ua;
        return naturalLess(a.name, b.name);
    });
    // Ports that a key names are not handed out a second time.
    auto named = [&](const SystemPort& p) {
        const QString real = QFileInfo(p.location).canonicalFilePath();
        for (const QString& value : configured) {
            if (value.isEmpty())
                continue;
            // A key may name the port through a symbolic link.
            if (value == p.location || value == p.name ||
                (!real.isEmpty() && QFileInfo(value).canonicalFilePath() == real))
                return true;
        }
        return false;
    };
    qsizetype next = 0;
    for (int com = 1; com <= kCount; ++com) {
        if (configured.contains(com)) {
            map.paths_[com - 1] = configured.value(com);
            continue;
        }
        while (next < system.size() && named(system[next]))
            ++next;
        if (next < system.size())
            map.paths_[com - 1] = system[next++].location;
    }
    return map;
#endif
}

QList<ComPortMap::SystemPort> ComPortMap::systemPorts() {
    QList<SystemPort> ports;
#ifdef Q_OS_LINUX
    // A terminal with a device behind it is a port (consoles and pseudo-terminals have none). The 8250
    // driver lists placeholders for ports the machine may not have: those answer as of unknown type.
    // Read with the system's own calls, and the virtual consoles (tty and digits alone, never a device)
    // without a look-up: every start reads this list, and each look-up walks the kernel's device tree.
    if (DIR* ttys = ::opendir("/sys/class/tty")) {
        bool listed = false;
        while (const dirent* entry = ::readdir(ttys)) {
            const QByteArray name(entry->d_name);
            if (name.startsWith('.'))
                continue;
            listed = true;
            const bool virtualConsole =
                name.size() > 3 && name.startsWith("tty") &&
                std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (virtualConsole || ::faccessat(::dirfd(ttys), (name + "/device").constData(), F_OK, 0) != 0)
                continue;
            const QString portName = QFile::decodeName(name);
            const QString location = QStringLiteral("/dev/") + portName;
            if (name.startsWith("ttyS") && !isPresent8250(location))
                continue;
            ports.append({portName, location});
        }
        ::closedir(ttys);
        if (listed)
            return ports;
    }
#endif
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos)
        ports.append({info.portName(), info.systemLocation()});
    return ports;
}

QMap<int, QString> ComPortMap::readConfigured(const QString& iniPath) {
    QMap<int, QString> configured;
    CSimpleIniA ini;
    ini.SetUnicode(true);
    // A settings file that is a pipe or a device is not waited on; the settings store says why.
    const std::optional<QByteArray> text = readRegularFile(iniPath, kMaxSettingsFileBytes, nullptr);
    if (!text || ini.LoadData(text->constData(), static_cast<size_t>(text->size())) < 0)
        return configured;
    for (int com = 1; com <= kCount; ++com) {
        const QByteArray key = "COM" + QByteArray::number(com);
        const char* value = ini.GetValue("ComPorts", key.constData(), nullptr);
        if (value)
            configured.insert(com, QString::fromUtf8(value).trimmed());
    }
    return configured;
}

QString ComPortMap::path(int com) const {
    if (com < 1 || com > kCount)
        return {};
    return paths_[com - 1];
}

void ComPortMap::setPath(int com, const QString& path) {
    if (com >= 1 && com <= kCount)
        paths_[com - 1] = path;
}

} // namespace tarvo
