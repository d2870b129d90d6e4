#include "SettingsStore.h"

#include "base/ReplacingFile.h"

#include "link/ComPortMap.h"
#include "link/CommandLink.h"
#include "link/PortSelection.h"
#include "link/SerialPort.h"
#include "measure/LiveReadout.h"
#include "protocol/CommandTable.h"
#include "protocol/Discovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <SimpleIni.h>
#include <cerrno>
#include <cmath>
#include <string>
#include <sys/stat.h>

namespace tarvo {

namespace {

class Ini {
public:
    explicit Ini(const QString& path) {
        ini_.SetUnicode(true);
        ini_.SetSpaces(false); // key=value, as the Windows profile functions write it
        // Never waits on a pipe, and reads only a regular file; a missing file is an empty one.
        QString reason;
        std::optional<QByteArray> bytes = readRegularFile(path, kMaxSettingsFileBytes + 1, &reason);
        if (!bytes) {
            // A link to a file not made yet is a missing file: the save makes the file it names.
            if (QFileInfo::exists(path))
                unreadable_ = reason;
            return;
        }
        if (bytes->size() > kMaxSettingsFileBytes) {
            unreadable_ = QStringLiteral("Larger than %1 bytes").arg(kMaxSettingsFileBytes);
            return;
        }
        // The parser stops at a zero byte: whatever followed one would be lost at the next save.
        const QByteArray text = closeSectionHeaders(bytes->replace('\0', QByteArray()));
        ini_.LoadData(text.constData(), static_cast<size_t>(text.size()));
        // A lone "[]" names the part before the first section; empty, it would be written as
        // blank lines that the next reading drops.
        if (ini_.GetSectionSize("") == 0)
            ini_.Delete("", nullptr);
    }

    // Why a file that is there could not be read; empty when it was read or is not there.
    const QString& unreadable() const { return unreadable_; }

    bool has(const char* section, const char* key) const {
        return ini_.GetValue(section, key, nullptr) != nullptr;
    }
    QString text(const char* section, const char* key, const QString& fallback) const {
        const char* value = ini_.GetValue(section, key, nullptr);
        return value ? unquoted(decoded(value)) : fallback;
    }
    // A page's text setting, cut to a length an entry can show: a huge value would freeze the window
    // while it is laid out and be written back at every close. The keys that were cut are kept.
    QString setting(const char* section, const char* key, const QString& fallback) const {
        QString value = text(section, key, fallback);
        if (value.size() > SettingsStore::kMaxTextLength) {
            value.truncate(SettingsStore::kMaxTextLength);
            cut_ << QString::fromLatin1(key);
        }
        return value;
    }
    const QStringList& cut() const { return cut_; }
    // Booleans and integers: a value that is not a whole number counts as missing.
    std::optional<long> integer(const char* section, const char* key) const {
        const char* value = ini_.GetValue(section, key, nullptr);
        if (!value)
            return std::nullopt;
        bool ok = false;
        const long v = QString::fromUtf8(value).trimmed().toLong(&ok);
        return ok ? std::optional<long>(v) : std::nullopt;
    }
    bool flag(const char* section, const char* key, bool fallback) const {
        const std::optional<long> v = integer(section, key);
        return v ? *v != 0 : fallback;
    }
    // A value that is not a number, not finite or outside minimum..maximum counts as missing.
    double real(const char* section, const char* key, double fallback, double minimum, double maximum) const {
        QString value = text(section, key, QString()).trimmed();
        bool ok = false;
        double v = value.toDouble(&ok);
        if (!ok) // written where the decimal separator is a comma
            v = value.replace(',', '.').toDouble(&ok);
        return ok && std::isfinite(v) && v >= minimum && v <= maximum ? v : fallback;
    }

    void set(const char* section, const char* key, const QString& value) {
        // A text that is what the file holds keeps its bytes: a Latin-1 value stays Latin-1.
        const char* stored = ini_.GetValue(section, key, nullptr);
        if (stored && unquoted(decoded(stored)) == value)
            return;
        ini_.SetValue(section, key, quotedIfNeeded(value).toUtf8().constData());
    }
    void set(const char* section, const char* key, bool value) {
        set(section, key, QString(value ? "1" : "0"));
    }
    void set(const char* section, const char* key, int value) { set(section, key, QString::number(value)); }
    void set(const char* section, const char* key, double value) {
        set(section, key, QString::number(value, 'g', 15));
    }

    // Empty when every byte is on the disk; otherwise why not, and the old file is as it was.
    QString save(const QString& path) {
        // What could not be read would be lost: the file stays as it is.
        if (!unreadable_.isEmpty())
            return QStringLiteral("it could not be read (%1)").arg(unreadable_);
        std::string text;
        if (ini_.Save(text) < 0)
            return qt_error_string(ENOMEM);
        const QString folder = QFileInfo(path).absolutePath();
        // mkpath keeps no reason; creating the folder once more gives it.
        if (!QDir().mkpath(folder) && ::mkdir(QFile::encodeName(folder).constData(), 0777) != 0)
            return qt_error_string(errno);
        ReplacingFile file(path);
        if (file.open()) {
            file.write(text.data(), static_cast<qsizetype>(text.size()));
            if (file.commit())
                return {};
        }
        return file.errorString();
    }

private:
    // The file's reader takes the blanks off both ends of a value: a blank file separator, or a command
    // line that ends in one, is kept between quotes, which reading takes off again (as the Windows
    // profile functions do). So is a value that is itself between quotes.
    static bool quotedText(const QString& v) {
        return v.size() >= 2 && v.startsWith(u'"') && v.endsWith(u'"');
    }
    static QString unquoted(const QString& v) { return quotedText(v) ? v.mid(1, v.size() - 2) : v; }
    static QString quotedIfNeeded(const QString& v) {
        const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
        const bool needed = !v.isEmpty() && (blank(v.front()) || blank(v.back()) || quotedText(v));
        return needed ? u'"' + v + u'"' : v;
    }
    // UTF-8 where the bytes are UTF-8; otherwise the file comes from a Windows-era tool and is Latin-1.
    static QString decoded(const char* bytes) {
        const QByteArrayView view(bytes);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8(view);
        return utf8.hasError() ? QString::fromLatin1(view) : text;
    }

    // A section header ends at its line's end, as the Windows profile functions read it. The INI parser
    // would skip a header without its "]" yet keep its name for the keys that follow, with part of the
    // next line in it, and every save would write that name back with one more line.
    static QByteArray closeSectionHeaders(QByteArray text) {
        // The first line begins after a UTF-8 byte-order mark.
        qsizetype lineStart = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        while (lineStart < text.size()) {
            // A carriage return alone ends a line for the parser as well.
            qsizetype lineEnd = lineStart;
            while (lineEnd < text.size() && text[lineEnd] != '\n' && text[lineEnd] != '\r')
                ++lineEnd;
            qsizetype first = lineStart;
            while (first < lineEnd && (text[first] == ' ' || text[first] == '\t'))
                ++first;
            if (first < lineEnd && text[first] == '[' &&
                QByteArrayView(text).sliced(first, lineEnd - first).indexOf(']') < 0) {
                text.insert(lineEnd, ']');
                ++lineEnd;
            }
            lineStart = lineEnd + 1;
        }
        return text;
    }

    CSimpleIniA ini_;
    QString unreadable_;
    mutable QStringList cut_;
};

constexpr double kDefaultWorldTop = 9000.0;
constexpr double kDefaultWorldBottom = -100.0;
// The scope's stored vertical range: ten million counts either way is far beyond any transmitter's
// reading, and the top must lie above the bottom.
constexpr double kWorldRange = 1e7;

int canSpeedPosition(const QString& name) {
    for (std::size_t i = 0; i < kCanBitRates.size(); ++i)
        if (name ==
            QLatin1String(kCanBitRates[i].name.data(), static_cast<qsizetype>(kCanBitRates[i].name.size())))
            return static_cast<int>(i);
    return -1;
}

} // namespace

void PageSettings::setFileSeparator(const QString& text) {
    fileSeparator = text;
    if (text == QLatin1String(","))
        separatorChoice = Separator::Comma;
    else if (text == QLatin1String(";"))
        separatorChoice = Separator::Semicolon;
    else {
        separatorChoice = Separator::Other;
        customSeparator = text;
    }
}

QString SettingsStore::readSettings(const QString& path, const Targets& t, PortSettings& ports,
                                    QStringList* cut) {
    const Ini ini(path);
    // A rate of 0 would hang the line up; a port number outside 1..8 names nothing.
    const std::optional<long> storedBaud = ini.integer("Port", "Baud");
    ports.baud = storedBaud && *storedBaud > 0 && *storedBaud <= 4000000 ? static_cast<int>(*storedBaud)
                                                                         : PortSettings().baud;
    const std::optional<long> storedCom = ini.integer("Port", "ComNumber");
    ports.com = storedCom && *storedCom >= 1 && *storedCom <= ComPortMap::kCount
                    ? static_cast<int>(*storedCom)
                    : PortSettings().com;
    ports.canBus = ini.flag("CAN", "CANbus", false);
    bool ok = false;
    const int deviceAddress = ini.text("CAN", "CANdeviceAddress", "0").toInt(&ok);
    ports.canDeviceAddress = ok ? std::optional<int>(deviceAddress) : std::nullopt;
    const QString canAddress = ini.text("CAN", "CANAddress", "CAN_ADDR_1");
    ports.canNodePosition.reset();
    if (canAddress.startsWith(QLatin1String("CAN_ADDR_"))) {
        const int node = canAddress.mid(9).toInt(&ok);
        if (ok)
            ports.canNodePosition = node - 1;
    }
    const int speed = canSpeedPosition(ini.text("CAN", "CANspeed", "CAN_BAUD_500K"));
    ports.canSpeedPosition = speed >= 0 ? std::optional<int>(speed) : std::nullopt;

    PageSettings& p = t.page;
    p.triggerLevel = ini.setting("Options", "TriggerLevel", "15");
    p.sampleTime = ini.setting("Options", "SampleTime", "1000");
    p.waitForTrigger = ini.setting("Options", "WaitForTrigger", "10 sec.");
    p.graphName = ini.setting("Options", "GraphName", ">Change this text in Graph Options<");
    p.units = ini.setting("Options", "Units", "n");
    p.setFileSeparator(ini.setting("Options", "FileSeparator", ","));
    const QString autotransmit = ini.text("Display", "Autotransmit", "SN");
    t.readout.restoreAutotransmit(autotransmit == QLatin1String("SG") ? autotransmit : QStringLiteral("SN"));
    p.worldTop = ini.real("Display", "WorldTop", kDefaultWorldTop, -kWorldRange, kWorldRange);
    p.worldBottom = ini.real("Display", "WorldBottom", kDefaultWorldBottom, -kWorldRange, kWorldRange);
    if (!(p.worldTop > p.worldBottom)) {
        p.worldTop = kDefaultWorldTop;
        p.worldBottom = kDefaultWorldBottom;
    }
    p.longTermSampleEnable = ini.flag("Options", "LongTermSampleEnable", false);
    p.useEverySample = ini.setting("Options", "UseEvery__Sample", "10");
    t.ports.setSearchOnlySelected(ini.flag("Options", "SearchSelectedBaudCom", false));
    p.useStatusInformation = ini.flag("Options", "UseStatusInformation", false);
    // Only "None" and "00".."63": another text would show as "None" in the list yet go into the
    // search's address lines, and "None" chosen in the list could not clear it.
    const QString storedAddress = ini.text("Modules", "DeviceAddr", "None");
    t.discovery.setDeviceAddress(isDeviceAddressChoice(storedAddress) ? storedAddress
                                                                      : QStringLiteral("None"));
    p.multiCommandString = ini.setting("Commands", "MultiCommandString", QString());
    p.loopTime = ini.setting("Commands", "LoopTime", "1000");
    if (cut)
        *cut = ini.cut();
    return ini.unreadable();
}

void SettingsStore::applyPortSettings(const PortSettings& settings, const Targets& t) {
    SerialPort& port = t.comm.port();
    port.close();
    port.setBaudRate(settings.baud);
    if (isSupportedBaud(settings.baud))
        t.ports.baudClicked(settings.baud);
    port.setPortNumber(settings.com);
    t.ports.setLastUsedPort(settings.com);
    if (!t.comm.tryOpen()) {
        for (int fallback = 1; fallback <= 4; ++fallback) {
            if (t.ports.portAvailable(fallback)) {
                t.ports.comClicked(fallback);
                break;
            }
        }
    } else if (settings.com <= 4) {
        t.ports.comClicked(settings.com);
    } else {
        t.ports.followPort(settings.com);
    }
    t.ports.refreshPortBaudCaption();

    if (settings.canDeviceAddress)
        t.ports.setCanDeviceAddress(*settings.canDeviceAddress);
    if (settings.canNodePosition)
        t.ports.setCanNodePosition(*settings.canNodePosition);
    if (settings.canSpeedPosition)
        t.ports.setCanSpeedPosition(*settings.canSpeedPosition);
    if (settings.canBus)
        t.ports.canBusClicked(); // shows the CAN options and switches the bridge's error reports on; sends
                                 // nothing
}

QString SettingsStore::writeSettings(const QString& path, const Targets& t, bool withPorts) {
    Ini ini(path);
    const PageSettings& p = t.page;
    if (withPorts) {
        const std::string_view speed =
            kCanBitRates[static_cast<std::size_t>(t.ports.canSpeedPosition())].name;
        ini.set("Port", "Baud", static_cast<int>(t.comm.port().baudRate()));
        ini.set("Port", "ComNumber", t.comm.port().portNumber());
        ini.set("CAN", "CANbus", t.ports.canChosen());
        ini.set("CAN", "CANdeviceAddress", t.ports.canDeviceAddress());
        ini.set("CAN", "CANAddress", canNodeName(t.ports.canNodePosition() + 1));
        ini.set("CAN", "CANspeed", QString::fromLatin1(speed.data(), static_cast<qsizetype>(speed.size())));
    }
    ini.set("Options", "TriggerLevel", p.triggerLevel);
    ini.set("Options", "SampleTime", p.sampleTime);
    ini.set("Options", "WaitForTrigger", p.waitForTrigger);
    ini.set("Options", "GraphName", p.graphName);
    ini.set("Options", "Units", p.units);
    ini.set("Options", "FileSeparator", p.fileSeparator);
    ini.set("Options", "LongTermSampleEnable", p.longTermSampleEnable);
    ini.set("Options", "UseEvery__Sample", p.useEverySample);
    ini.set("Options", "SearchSelectedBaudCom", t.ports.searchOnlySelected());
    ini.set("Options", "UseStatusInformation", p.useStatusInformation);
    ini.set("Display", "Autotransmit", t.readout.autotransmit());
    ini.set("Display", "WorldTop", p.worldTop);
    ini.set("Display", "WorldBottom", p.worldBottom);
    ini.set("Modules", "DeviceAddr", t.discovery.deviceAddress());
    ini.set("Commands", "MultiCommandString", p.multiCommandString);
    ini.set("Commands", "LoopTime", p.loopTime);
    return ini.save(path);
}

QString SettingsStore::readKernelPath(const QString& path, const QString& fallback) {
    const QString stored = Ini(path).text("Programing", "Prog41FilePath", QString());
    return stored.isEmpty() ? fallback : stored;
}

QString SettingsStore::writeKernelPath(const QString& path, const QString& kernelPath) {
    Ini ini(path);
    ini.set("Programing", "Prog41FilePath", kernelPath);
    return ini.save(path);
}

} // namespace tarvo
