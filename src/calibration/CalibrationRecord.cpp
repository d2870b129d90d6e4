#include "CalibrationRecord.h"

#include "measure/DataFiles.h"

namespace tarvo {

namespace {
QString orNotReported(const QString& reading) {
    return reading.isEmpty() ? QString::fromLatin1(CalibrationRecord::kNotReported) : reading;
}
} // namespace

QByteArray CalibrationRecord::text() const {
    const QString loadText = units.isEmpty() ? load : load + ' ' + units;
    const std::pair<const char*, QString> lines[] = {
        {"Date", time.toString(Qt::ISODate)},
        {"Device", QString::number(identity)},
        {"Firmware", orNotReported(firmware)},
        {"Connection", connection},
        {"Calibration load", loadText},
        {"Decimal point", decimalPoint},
        {"Zero as found", orNotReported(zeroBefore)},
        {"Zero as left", orNotReported(zeroAfter)},
        {"Gain as found", orNotReported(gainBefore)},
        {"Gain as left", orNotReported(gainAfter)},
    };
    QByteArray out = QByteArrayLiteral("Calibration record") + kFileLineEnd;
    for (const auto& [name, value] : lines)
        out += QByteArray(name) + ": " + value.toUtf8() + kFileLineEnd;
    return out;
}

bool CalibrationRecord::write(const QString& path, QString* error) const {
    ReplacingFile file(path);
    if (!file.open()) {
        if (error)
            *error = QStringLiteral("cannot create %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(text());
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace tarvo
