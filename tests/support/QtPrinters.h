#pragma once

#include <QByteArray>
#include <QString>
#include <ostream>

// Readable failure output for Qt strings in GoogleTest assertions.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QByteArray& s, std::ostream* os) {
    *os << '"';
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r')
            *os << "\\r";
        else if (c == '\n')
            *os << "\\n";
        else if (u < 0x20 || u >= 0x7f)
            *os << "\\x"
                << "0123456789ABCDEF"[u >> 4] << "0123456789ABCDEF"[u & 15];
        else
            *os << c;
    }
    *os << '"';
}
