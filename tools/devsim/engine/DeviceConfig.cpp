#include "DeviceConfig.h"

#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>

namespace devsim {

namespace {
constexpr std::array<int, 5> validBauds{9600, 19200, 38400, 57600, 115200};
}

bool DeviceConfig::isValidBaud(int baud) {
    return std::find(validBauds.begin(), validBauds.end(), baud) != validBauds.end();
}

bool DeviceConfig::isValidWeight(double weight) {
    // "nan" and "inf" read as numbers, but no counts follow from them.
    return std::isfinite(weight) && std::abs(weight) <= 1e6;
}

bool DeviceConfig::fromText(const QString& text, DeviceConfig* config, int* lineNumber, QString* error) {
    DeviceConfig c;
    int line = 1;
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QStringList items = text.split(u',', Qt::SkipEmptyParts);
    for (const QString& rawItem : items) {
        const QString item = rawItem.trimmed();
        const qsizetype eq = item.indexOf(u'=');
        if (eq <= 0)
            return fail(QStringLiteral("expected key=value, got \"%1\"").arg(item));
        const QString key = item.left(eq).trimmed().toLower();
        const QString value = item.mid(eq + 1).trimmed();
        bool ok = true;
        auto toInt = [&](int lo, int hi) {
            const int v = value.toInt(&ok);
            ok = ok && v >= lo && v <= hi;
            return v;
        };
        auto toWeight = [&] {
            const double v = value.toDouble(&ok);
            ok = ok && isValidWeight(v);
            return ok ? v : 0.0;
        };
        if (key == u"line")
            line = toInt(1, 64);
        else if (key == u"id")
            c.identity = toInt(0, 9999);
        else if (key == u"fw")
            c.firmware = value;
        else if (key == u"addr")
            c.address = toInt(0, 63);
        else if (key == u"baud") {
            c.baud = toInt(0, 1000000);
            ok = ok && isValidBaud(c.baud);
        } else if (key == u"duplex")
            c.fullDuplex = toInt(0, 1) != 0;
        else if (key == u"decimals")
            c.decimals = toInt(0, 5);
        else if (key == u"weight")
            c.weight = toWeight();
        else if (key == u"tare")
            c.tare = toWeight();
        else if (key == u"update")
            c.updateMs = toInt(0, 60000);
        else if (key == u"pupdate")
            c.packetUpdateMs = toInt(1, 60000);
        else if (key == u"counter")
            c.counterStart = toInt(0, 99999);
        else if (key == u"nomotion")
            c.settleMs = value == u"never" ? -1 : toInt(0, 3600000);
        else if (key == u"filter") {
            ok = value == u"on" || value == u"off";
            c.filterModel = value == u"on";
        } else if (key == u"stream") {
            c.autotransmit = value.toUpper().toLatin1();
            if (c.autotransmit == "NONE")
                c.autotransmit.clear();
            ok = c.autotransmit.isEmpty() || c.autotransmit == "SG" || c.autotransmit == "SN" ||
                 c.autotransmit == "SA" || c.autotransmit == "GP";
        } else {
            bool known = false;
            QString why;
            if (!c.profile.setKey(key, value, &known, &why))
                return fail(known ? why : QStringLiteral("unknown device key \"%1\"").arg(key));
        }
        if (!ok)
            return fail(QStringLiteral("bad value for %1: \"%2\"").arg(key, value));
    }
    if (const QString problem = c.profile.problem(); !problem.isEmpty())
        return fail(problem);
    if (config)
        *config = c;
    if (lineNumber)
        *lineNumber = line;
    return true;
}

} // namespace devsim
