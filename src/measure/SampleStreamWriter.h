#pragma once

#include "StatusPacket.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <cstdio>

namespace tarvo {

// Writes an endless recording one line per sample, flushed as it is written, so that another program
// reading the file or the pipe sees every sample as soon as it has arrived. Keeps nothing in memory
// but the line being written.
class SampleStreamWriter {
public:
    enum class Format { Csv, Jsonl };

    // Where the samples came from, carried by every jsonl line.
    struct Source {
        int identity = 0;
        QString address = QStringLiteral("None");
        QString port;
    };

    SampleStreamWriter(std::FILE* out, Format format, Source source);

    // The data file's two header lines (csv only): graph name, then "GraphData" + separator +
    // "Milliseconds".
    bool writeHeader(const QString& graphName, const QByteArray& separator);
    // A value line as the device sent it, without its start letter ("+0012.5"); false when it is not a
    // number (nothing is written then) or when writing failed.
    bool writeValue(QByteArrayView text, qint64 elapsedMs, const QDateTime& utc);
    // A status packet; csv takes gross or net as the autotransmit selection says.
    bool writePacket(const StatusPacket& p, bool gross, bool dosing, qint64 elapsedMs, const QDateTime& utc);
    // A finished cycle's result ("dosed", "average") as the device answered its read, the sign in front
    // ("+0012.5"); jsonl only. False when the text is not a number or writing failed.
    bool writeResult(const char* kind, QByteArrayView text, const QDateTime& utc);
    // An event ("link lost", "link restored") with a reason; jsonl only (csv has no place for it).
    bool writeEvent(const char* event, const QString& reason, const QDateTime& utc);

    void setSource(const Source& source) { source_ = source; }
    // Goes on in another file (a rotation cut between two samples); csv writes its header lines there.
    bool switchTo(std::FILE* out);
    // Bytes written to the current file.
    qint64 bytesWritten() const { return bytes_; }
    // Sequence number of the last sample written (0 before the first).
    qint64 sequence() const { return sequence_; }
    bool failed() const { return failed_; }

    // The value of a value line and its decimal count ("+0012.5" is 12.5 with 1 decimal).
    static bool parseValueText(QByteArrayView text, double* value, int* decimals);
    // A decimal number as JSON takes it: fixed decimals, no "+" sign.
    static QByteArray jsonNumber(double value, int decimals);
    static QByteArray isoTime(const QDateTime& utc);

private:
    bool put(const QByteArray& line);
    QByteArray jsonHead(const QDateTime& utc) const;

    std::FILE* out_;
    Format format_;
    Source source_;
    QByteArray separator_ = ",";
    char decimalPoint_ = '.';
    QString graphName_;
    qint64 sequence_ = 0;
    qint64 bytes_ = 0;
    bool failed_ = false;
};

} // namespace tarvo
