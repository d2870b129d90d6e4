#include "SampleStreamWriter.h"

#include "DataFiles.h"
#include "StreamDispatcher.h"
#include "base/NumberText.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

QByteArray jsonString(const QString& text) {
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += "\\u00";
            out += QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    return out + '"';
}

const char* jsonBool(bool on) {
    return on ? "true" : "false";
}

} // namespace

SampleStreamWriter::SampleStreamWriter(std::FILE* out, Format format, Source source)
    : out_(out), format_(format), source_(std::move(source)), decimalPoint_(DataFiles::localeDecimalPoint()) {
}

bool SampleStreamWriter::writeHeader(const QString& graphName, const QByteArray& separator) {
    separator_ = separator;
    graphName_ = graphName;
    if (format_ != Format::Csv)
        return true;
    return put(graphName.toLocal8Bit()) && put("GraphData" + separator_ + "Milliseconds");
}

bool SampleStreamWriter::parseValueText(QByteArrayView text, double* value, int* decimals) {
    const auto parsed = parseDecimal(text.data(), text.size());
    if (!parsed)
        return false;
    const qsizetype point = text.indexOf('.');
    *decimals = point < 0 ? 0 : static_cast<int>(text.size() - point - 1);
    *value = *parsed;
    return true;
}

QByteArray SampleStreamWriter::jsonNumber(double value, int decimals) {
    QByteArray text = QByteArray::number(value, 'f', std::clamp(decimals, 0, 9));
    // "-0.0" reads as zero in JSON too, but a plain zero is what a reader expects.
    if (text.startsWith('-') && std::fabs(value) * std::pow(10.0, decimals) < 0.5)
        text.remove(0, 1);
    return text;
}

QByteArray SampleStreamWriter::isoTime(const QDateTime& utc) {
    return utc.toUTC().toString(Qt::ISODateWithMs).toLatin1();
}

QByteArray SampleStreamWriter::jsonHead(const QDateTime& utc) const {
    return "{\"time\":\"" + isoTime(utc) +
           "\",\"device\":{\"identity\":" + QByteArray::number(source_.identity) +
           ",\"address\":" + jsonString(source_.address) + ",\"port\":" + jsonString(source_.port) + "}";
}

bool SampleStreamWriter::writeValue(QByteArrayView text, qint64 elapsedMs, const QDateTime& utc) {
    double value = 0;
    int decimals = 0;
    if (!parseValueText(text, &value, &decimals))
        return false;
    const qint64 seq = sequence_ + 1;
    QByteArray line;
    if (format_ == Format::Csv) {
        // As the graph data file keeps it: the value in counts (decimal point deleted).
        char number[40];
        char* end = DataFiles::formatValue(number, static_cast<float>(value * std::pow(10.0, decimals)),
                                           decimalPoint_);
        line = QByteArray(number, end - number) + separator_ + QByteArray::number(elapsedMs);
    } else {
        line = jsonHead(utc) + ",\"seq\":" + QByteArray::number(seq) +
               ",\"value\":" + jsonNumber(value, decimals) + ",\"decimals\":" + QByteArray::number(decimals) +
               ",\"text\":" + jsonString(QString::fromLatin1(text.data(), text.size())) + "}";
    }
    if (!put(line))
        return false;
    sequence_ = seq;
    return true;
}

bool SampleStreamWriter::writePacket(const StatusPacket& p, bool gross, bool dosing, qint64 elapsedMs,
                                     const QDateTime& utc) {
    const qint64 seq = sequence_ + 1;
    QByteArray line;
    if (format_ == Format::Csv) {
        char number[40];
        char* end =
            DataFiles::formatValue(number, static_cast<float>(gross ? p.gross : p.net), decimalPoint_);
        line = QByteArray(number, end - number) + separator_ + QByteArray::number(elapsedMs);
    } else {
        // Decimal counts 6 and 7 leave the values undivided.
        const int decimals = p.decimals <= 5 ? p.decimals : 0;
        const char* name = dosing ? StreamDispatcher::dosingStateName(p.state)
                                  : StreamDispatcher::checkWeigherStateName(p.state);
        line = jsonHead(utc) + ",\"seq\":" + QByteArray::number(seq) +
               ",\"gross\":" + jsonNumber(p.gross, decimals) + ",\"net\":" + jsonNumber(p.net, decimals) +
               ",\"decimals\":" + QByteArray::number(decimals) +
               ",\"status\":{\"state\":" + QByteArray::number(p.state) +
               ",\"stateName\":" + jsonString(QString::fromLatin1(name ? name : "")) +
               ",\"noMotion\":" + jsonBool(p.noMotion) + ",\"overRange\":" + jsonBool(p.overRange) +
               ",\"underRange\":" + jsonBool(p.underRange) + "}}";
    }
    if (!put(line))
        return false;
    sequence_ = seq;
    return true;
}

bool SampleStreamWriter::writeResult(const char* kind, QByteArrayView text, const QDateTime& utc) {
    double value = 0;
    int decimals = 0;
    if (!parseValueText(text, &value, &decimals))
        return false;
    if (format_ != Format::Jsonl)
        return true;
    return put(jsonHead(utc) + ",\"event\":\"cycle\",\"result\":" + jsonString(QString::fromLatin1(kind)) +
               ",\"value\":" + jsonNumber(value, decimals) + ",\"decimals\":" + QByteArray::number(decimals) +
               ",\"lastSeq\":" + QByteArray::number(sequence_) + "}");
}

bool SampleStreamWriter::writeEvent(const char* event, const QString& reason, const QDateTime& utc) {
    if (format_ != Format::Jsonl)
        return true;
    return put(jsonHead(utc) + ",\"event\":" + jsonString(QString::fromLatin1(event)) +
               ",\"reason\":" + jsonString(reason) + ",\"lastSeq\":" + QByteArray::number(sequence_) + "}");
}

bool SampleStreamWriter::switchTo(std::FILE* out) {
    out_ = out;
    bytes_ = 0;
    return writeHeader(graphName_, separator_);
}

bool SampleStreamWriter::put(const QByteArray& line) {
    if (failed_)
        return false;
    // One write and one flush per line: a reader never sees half a sample, and sees it at once.
    if (std::fwrite(line.constData(), 1, line.size(), out_) != static_cast<size_t>(line.size()) ||
        std::fputc('\n', out_) == EOF || std::fflush(out_) != 0)
        failed_ = true;
    else
        bytes_ += line.size() + 1;
    return !failed_;
}

} // namespace tarvo
