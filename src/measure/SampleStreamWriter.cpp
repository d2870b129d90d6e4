#include "SampleStreamWriter.h"

#include "DataFiles.h"
#include "StreamDispatcher.h"
#include "base/NumberText.h"

#include <QDateTime>
#include <algorithm>
#include <charconv>
#include <cmath>

namespace tarvo {

namespace {

void appendJsonString(QByteArray& out, QByteArrayView utf8) {
    out += '"';
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            const auto u = static_cast<unsigned char>(c);
            const char escape[] = {'\\', 'u', '0', '0', kHex[u >> 4], kHex[u & 15]};
            out.append(escape, sizeof escape);
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendJsonString(QByteArray& out, const QString& text) {
    appendJsonString(out, QByteArrayView(text.toUtf8()));
}

void appendInteger(QByteArray& out, qint64 n) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, n);
    out.append(digits, r.ptr - digits);
}

const char* jsonBool(bool on) {
    return on ? "true" : "false";
}

} // namespace

SampleStreamWriter::SampleStreamWriter(std::FILE* out, Format format, Source source)
    : out_(out), format_(format), decimalPoint_(DataFiles::localeDecimalPoint()) {
    setSource(source);
}

void SampleStreamWriter::setSource(const Source& source) {
    // Called for every sample where several devices share the writer: only a change costs.
    if (!deviceJson_.isEmpty() && source.identity == source_.identity && source.address == source_.address &&
        source.port == source_.port)
        return;
    source_ = source;
    deviceJson_ = "\"device\":{\"identity\":";
    appendInteger(deviceJson_, source_.identity);
    deviceJson_ += ",\"address\":";
    appendJsonString(deviceJson_, source_.address);
    deviceJson_ += ",\"port\":";
    appendJsonString(deviceJson_, source_.port);
    deviceJson_ += '}';
}

bool SampleStreamWriter::writeHeader(const QString& graphName, const QByteArray& separator) {
    separator_ = separator;
    graphName_ = graphName;
    if (format_ != Format::Csv)
        return true;
    line_ = graphName.toLocal8Bit();
    if (!put())
        return false;
    line_ = "GraphData" + separator_ + "Milliseconds";
    return put();
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

void SampleStreamWriter::appendJsonNumber(double value, int decimals) {
    char digits[64];
    auto r = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed,
                           std::clamp(decimals, 0, 9));
    if (r.ec != std::errc()) { // beyond what fits: the slow way
        line_ += jsonNumber(value, decimals);
        return;
    }
    const char* start = digits;
    if (digits[0] == '-' && std::fabs(value) * std::pow(10.0, decimals) < 0.5)
        ++start; // as jsonNumber: a plain zero, not "-0.0"
    line_.append(start, r.ptr - start);
}

void SampleStreamWriter::startJsonLine(qint64 utcMs) {
    // The date and time to the second change once a second; only the milliseconds are made per line.
    const qint64 second = utcMs >= 0 ? utcMs / 1000 : (utcMs - 999) / 1000;
    if (second != timeSecond_) {
        timeSecond_ = second;
        timeText_ = QDateTime::fromMSecsSinceEpoch(second * 1000, Qt::UTC)
                        .toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"))
                        .toLatin1();
    }
    const int ms = static_cast<int>(utcMs - second * 1000);
    const char millis[] = {'.', char('0' + ms / 100), char('0' + ms / 10 % 10), char('0' + ms % 10), 'Z', '"',
                           ','};
    line_.resize(0);
    line_ += "{\"time\":\"";
    line_ += timeText_;
    line_.append(millis, sizeof millis);
    line_ += deviceJson_;
}

bool SampleStreamWriter::writeValue(QByteArrayView text, qint64 elapsedMs, qint64 utcMs) {
    double value = 0;
    int decimals = 0;
    if (!parseValueText(text, &value, &decimals))
        return false;
    const qint64 seq = sequence_ + 1;
    if (format_ == Format::Csv) {
        // As the graph data file keeps it: the value in counts (decimal point deleted).
        char number[40];
        char* end = DataFiles::formatValue(number, static_cast<float>(value * std::pow(10.0, decimals)),
                                           decimalPoint_);
        line_.resize(0);
        line_.append(number, end - number);
        line_ += separator_;
        appendInteger(line_, elapsedMs);
    } else {
        startJsonLine(utcMs);
        line_ += ",\"seq\":";
        appendInteger(line_, seq);
        line_ += ",\"value\":";
        appendJsonNumber(value, decimals);
        line_ += ",\"decimals\":";
        appendInteger(line_, decimals);
        line_ += ",\"text\":";
        appendJsonString(line_, text);
        line_ += '}';
    }
    if (!put())
        return false;
    sequence_ = seq;
    return true;
}

bool SampleStreamWriter::writePacket(const StatusPacket& p, bool gross, bool dosing, qint64 elapsedMs,
                                     qint64 utcMs) {
    const qint64 seq = sequence_ + 1;
    if (format_ == Format::Csv) {
        char number[40];
        char* end =
            DataFiles::formatValue(number, static_cast<float>(gross ? p.gross : p.net), decimalPoint_);
        line_.resize(0);
        line_.append(number, end - number);
        line_ += separator_;
        appendInteger(line_, elapsedMs);
    } else {
        // Decimal counts 6 and 7 leave the values undivided.
        const int decimals = p.decimals <= 5 ? p.decimals : 0;
        const char* name = dosing ? StreamDispatcher::dosingStateName(p.state)
                                  : StreamDispatcher::checkWeigherStateName(p.state);
        startJsonLine(utcMs);
        line_ += ",\"seq\":";
        appendInteger(line_, seq);
        line_ += ",\"gross\":";
        appendJsonNumber(p.gross, decimals);
        line_ += ",\"net\":";
        appendJsonNumber(p.net, decimals);
        line_ += ",\"decimals\":";
        appendInteger(line_, decimals);
        line_ += ",\"status\":{\"state\":";
        appendInteger(line_, p.state);
        line_ += ",\"stateName\":";
        appendJsonString(line_, QByteArrayView(name ? name : ""));
        line_ += ",\"noMotion\":";
        line_ += jsonBool(p.noMotion);
        line_ += ",\"overRange\":";
        line_ += jsonBool(p.overRange);
        line_ += ",\"underRange\":";
        line_ += jsonBool(p.underRange);
        line_ += "}}";
    }
    if (!put())
        return false;
    sequence_ = seq;
    return true;
}

bool SampleStreamWriter::writeResult(const char* kind, QByteArrayView text, qint64 utcMs) {
    double value = 0;
    int decimals = 0;
    if (!parseValueText(text, &value, &decimals))
        return false;
    if (format_ != Format::Jsonl)
        return true;
    startJsonLine(utcMs);
    line_ += ",\"event\":\"cycle\",\"result\":";
    appendJsonString(line_, QByteArrayView(kind));
    line_ += ",\"value\":";
    appendJsonNumber(value, decimals);
    line_ += ",\"decimals\":";
    appendInteger(line_, decimals);
    line_ += ",\"lastSeq\":";
    appendInteger(line_, sequence_);
    line_ += '}';
    return put();
}

bool SampleStreamWriter::writeEvent(const char* event, const QString& reason, qint64 utcMs) {
    if (format_ != Format::Jsonl)
        return true;
    startJsonLine(utcMs);
    line_ += ",\"event\":";
    appendJsonString(line_, QByteArrayView(event));
    line_ += ",\"reason\":";
    appendJsonString(line_, reason);
    line_ += ",\"lastSeq\":";
    appendInteger(line_, sequence_);
    line_ += '}';
    return put();
}

bool SampleStreamWriter::switchTo(std::FILE* out) {
    out_ = out;
    bytes_ = 0;
    return writeHeader(graphName_, separator_);
}

bool SampleStreamWriter::put() {
    if (failed_)
        return false;
    // One write and one flush per line: a reader never sees half a sample, and sees it at once.
    line_ += '\n';
    if (std::fwrite(line_.constData(), 1, line_.size(), out_) != static_cast<size_t>(line_.size()) ||
        std::fflush(out_) != 0)
        failed_ = true;
    else
        bytes_ += line_.size();
    return !failed_;
}

} // namespace tarvo
