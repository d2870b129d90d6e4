#include "NumberText.h"

namespace tarvo {

bool isValidNumber(const QString& text, float minimum, float maximum) {
    if (text.isEmpty())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool sign = c == u'+' || c == u'-';
        if (!c.isDigit() && !(sign && i == 0))
            return false;
        if (c.unicode() > 0x7f)
            return false;
    }
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok) // a lone "+" or "-"
        return false;
    const float narrowed = static_cast<float>(value);
    return minimum <= narrowed && narrowed <= maximum;
}

std::optional<double> parseTypedNumber(QString text) {
    if (text.count(u',') == 1 && !text.contains(u'.'))
        text.replace(u',', u'.');
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

std::optional<double> parseDecimal(const char* data, qsizetype size) {
    qsizetype i = 0;
    bool negative = false;
    if (i < size && (data[i] == '+' || data[i] == '-')) {
        negative = data[i] == '-';
        ++i;
    }
    double value = 0;
    double scale = 1;
    bool point = false;
    bool digits = false;
    for (; i < size; ++i) {
        const char c = data[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            if (point) {
                scale /= 10;
                value += (c - '0') * scale;
            } else {
                value = value * 10 + (c - '0');
            }
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digits)
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<long long> parseInteger(const QByteArray& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size() || text.size() - i > 18)
        return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

bool deleteFirst(QByteArray& text, const QByteArray& needle) {
    if (needle.isEmpty())
        return false;
    const qsizetype at = text.indexOf(needle);
    if (at < 0)
        return false;
    text.remove(at, needle.size());
    return true;
}

} // namespace tarvo
