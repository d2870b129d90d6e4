#pragma once

#include <QDateTime>
#include <QString>

namespace tarvo {

// What one calibration did, as found and as left: the record an instrument's file keeps. Readings the
// device did not report are written as such.
struct CalibrationRecord {
    static constexpr const char* kNotReported = "not reported";
    static constexpr const char* kNotReadWhileStreaming = "not read: the device was streaming gross values";

    QDateTime time;
    int identity = 0;
    QString firmware;
    QString connection;
    QString load;
    QString units;
    QString decimalPoint;
    QString zeroBefore;
    QString zeroAfter;
    QString gainBefore;
    QString gainAfter;

    // One "Name: value" line each, ending with the platform's line end.
    QByteArray text() const;
    // Written beside path and put in its place only when every byte was written, so an existing record
    // is never replaced by a broken one. False with the reason when the file could not be written.
    bool write(const QString& path, QString* error) const;
};

} // namespace tarvo
