#pragma once

#include "StatusPacket.h"

#include <QByteArray>
#include <QByteArrayView>
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
    // utcMs: the time it arrived, in milliseconds since 1970 (UTC).
    bool writeValue(QByteArrayView text, qint64 elapsedMs, qint64 utcMs);
    // A status packet; csv takes gross or net as the autotransmit selection says.
    bool writePacket(const StatusPacket& p, bool gross, bool dosing, qint64 elapsedMs, qint64 utcMs);
    // A finished cycle's result ("dosed", "average") as the device answered its read, the sign in front
    // ("+0012.5"); jsonl only. False when the text is not a number or writing failed.
    bool writeResult(const char* kind, QByteArrayView text, qint64 utcMs);
    // An event ("link lost", "link restored") with a reason; jsonl only (csv has no place for it).
    bool writeEvent(const char* event, const QString& reason, qint64 utcMs);

    void setSource(const Source& source);
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

private:
    // Writes line_ and its newline.
    bool put();
    // Starts line_ with a jsonl line's time and device.
    void startJsonLine(qint64 utcMs);
    void appendJsonNumber(double value, int decimals);

    std::FILE* out_;
    Format format_;
    Source source_;
    QByteArray deviceJson_;  // the source as jsonl writes it, made once per source
    QByteArray line_;        // the line being made; its memory is kept from line to line
    qint64 timeSecond_ = -1; // the second that timeText_ holds, "yyyy-MM-ddTHH:mm:ss"
    QByteArray timeText_;
    QByteArray separator_ = ",";
    char decimalPoint_ = '.';
    QString graphName_;
    qint64 sequence_ = 0;
    qint64 bytes_ = 0;
    bool failed_ = false;
};

} // namespace tarvo
