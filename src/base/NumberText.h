#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tarvo {

// The numeric-entry check of the parameter pages: digits only, a sign allowed in the first place only,
// and the value (as a single-precision float) within minimum..maximum. A lone sign is not a number.
bool isValidNumber(const QString& text, float minimum, float maximum);

// Whole text as a decimal number: optional sign, digits, at most one decimal point, nothing else.
// Allocation-free; used on every stream line.
std::optional<double> parseDecimal(const char* data, qsizetype size);
inline std::optional<double> parseDecimal(const QByteArray& text) {
    return parseDecimal(text.constData(), text.size());
}

// A number typed by the operator (a command-line option): with a decimal point or, as many locales
// write it, a decimal comma ("0,5").
std::optional<double> parseTypedNumber(QString text);

// Whole text as a decimal integer with an optional sign (no blanks, no point).
std::optional<long long> parseInteger(const QByteArray& text);

// Removes the first occurrence of needle, if any; returns whether one was removed.
bool deleteFirst(QByteArray& text, const QByteArray& needle);

} // namespace tarvo
