#include "SetupFile.h"

#include <SimpleIni.h>
#include <array>
#include <limits>

namespace tarvo {

namespace {
constexpr std::array<SetupEntry, 16> kDosingEntries{{
    {"DosingCommand", "PD1", "PD1"},
    {"DosingCommand", "PD2", "PD2"},
    {"DosingCommand", "PD3", "PD3"},
    {"DosingCommand", "PD4", "PD4"},
    {"DosingCommand", "PD5", "PD5"},
    {"DosingCommand", "PD6", "PD6"},
    {"DosingCommand", "PD7", "PD7"},
    {"DosingCommand", "PD8", "PD8"},
    {"DosingCommand", "PD9", "PD9"},
    {"DosingCommand", "PD10", "PD10"},
    {"DosingCommand", "PD11", "PD11"},
    {"DosingCommand", "PD12", "PD12"},
    {"DosingCommand", "PD13", "PD13"},
    {"DosingCommand", "PD14", "PD14"},
    {"DosingCommand", "PD15", "PD15"},
    {"DosingCommand", "PD16", "PD16"},
}};
constexpr std::array<SetupEntry, 13> kCheckWeigherEntries{{
    {"CheckWeigher", "StartDelay", "StartDelay"},
    {"CheckWeigher", "TriggerLevel", "TriggerLevel"},
    {"CheckWeigher", "MeasureTime", "MeasureTime"},
    {"CheckWeigher", "RetrigWindow", "RetrigWindow"},
    {"CheckWeigher", "RetrigTime", "ReTrigTime"},
    {"CheckWeigher", "TareWindow", "TareWindow"},
    {"Setpoint 0", "Setpoint", "Setpoint0"},
    {"Setpoint 0", "Hysteresis", "Hysteresis0"},
    {"Setpoint 0", "Action", "Action0"},
    {"Setpoint 1", "Setpoint", "Setpoint1"},
    {"Setpoint 1", "Hysteresis", "Hysteresis1"},
    {"Setpoint 1", "Action", "Action1"},
    {"HoldTime", "Holdtime", "HoldTime"},
}};

QString entryError(const SetupEntry& entry, const QString& text, const QString& why) {
    // A damaged file may hold a very long value: the message shows its start.
    const QString shown = text.size() > 40 ? text.left(40) + "..." : text;
    return QStringLiteral("%1 = '%2' %3").arg(QString::fromLatin1(entry.parameter), shown, why);
}

void setValue(CSimpleIniA& ini, const char* section, const char* key, const QByteArray& value) {
    ini.SetValue(section, key, value.constData());
}
} // namespace

std::span<const SetupEntry> SetupFile::entries(SetupGroup group) {
    if (group == SetupGroup::Dosing)
        return kDosingEntries;
    return kCheckWeigherEntries;
}

QStringList SetupFile::parameterNames(SetupGroup group) {
    QStringList names;
    for (const SetupEntry& e : entries(group))
        names << QString::fromLatin1(e.parameter);
    return names;
}

std::optional<qint32> SetupFile::wholeNumber(const QString& text, QString* why) {
    const auto fail = [why](const char* reason) -> std::optional<qint32> {
        if (why)
            *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return fail("is not a whole number");
    qint64 value = 0;
    bool tooLarge = false;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return fail("is not a whole number");
        if (!tooLarge)
            value = value * 10 + (c - u'0');
        tooLarge = tooLarge || value > qint64(std::numeric_limits<qint32>::max()) + 1;
    }
    if (negative)
        value = -value;
    if (tooLarge || value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        return fail("is out of range");
    return qint32(value);
}

std::optional<QByteArray> SetupFile::compose(SetupGroup group, const SetupHeader& header,
                                             const QStringList& texts, QString* error) {
    const auto list = entries(group);
    QList<qint32> values;
    for (size_t i = 0; i < list.size(); ++i) {
        const QString text = texts.value(qsizetype(i));
        QString why;
        const std::optional<qint32> value = wholeNumber(text, &why);
        if (!value) {
            if (error)
                *error = entryError(list[i], text, why);
            return std::nullopt;
        }
        values << *value;
    }
    CSimpleIniA ini;
    // Windows profile files: "key=value" without blanks.
    ini.SetSpaces(false);
    setValue(ini, "Device", "ID", QByteArray::number(header.identity));
    setValue(ini, "Device", "Firmware", header.firmware.toUtf8());
    setValue(ini, "Port", "Baud", QByteArray::number(header.baud));
    setValue(ini, "Port", "ComNumber", QByteArray::number(header.comNumber));
    for (size_t i = 0; i < list.size(); ++i)
        setValue(ini, list[i].section, list[i].key, QByteArray::number(values[qsizetype(i)]));
    std::string out;
    if (ini.Save(out) < 0) {
        if (error)
            *error = QStringLiteral("cannot be composed");
        return std::nullopt;
    }
    return QByteArray::fromStdString(out);
}

std::optional<QList<qint32>> SetupFile::parse(QByteArrayView bytes, SetupGroup group, QString* error) {
    if (bytes.size() > kMaxSize) {
        if (error)
            *error = QStringLiteral("is too large for a setup file");
        return std::nullopt;
    }
    // Windows profile semantics: section and key names in any case (CSimpleIniA ignores case).
    CSimpleIniA ini;
    if (ini.LoadData(bytes.constData(), size_t(bytes.size())) < 0) {
        if (error)
            *error = QStringLiteral("cannot be read as a setup file");
        return std::nullopt;
    }
    // A file with none of the group's sections is no setup file of that group (an empty file, a file
    // of the other group, any other text): read as one it would set every parameter to 0.
    bool groupFound = false;
    for (const SetupEntry& entry : entries(group))
        groupFound = groupFound || ini.GetSectionSize(entry.section) >= 0;
    if (!groupFound) {
        if (error)
            *error = QStringLiteral("has no [%1] section: it is not a %2 setup file")
                         .arg(QString::fromLatin1(entries(group).front().section),
                              group == SetupGroup::Dosing ? QStringLiteral("dosing")
                                                          : QStringLiteral("check-weigher"));
        return std::nullopt;
    }
    QList<qint32> values;
    for (const SetupEntry& entry : entries(group)) {
        const char* stored = ini.GetValue(entry.section, entry.key, nullptr);
        if (!stored) {
            values << 0;
            continue;
        }
        const QString text = QString::fromUtf8(stored);
        QString why;
        const std::optional<qint32> value = wholeNumber(text, &why);
        if (!value) {
            if (error)
                *error = entryError(entry, text, why);
            return std::nullopt;
        }
        values << *value;
    }
    return values;
}

} // namespace tarvo
