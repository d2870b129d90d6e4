#include "ValueText.h"

#include <algorithm>

namespace devsim {

namespace {

constexpr qint64 maxFive = 99999;

qint64 clampFive(qint64 v) {
    return std::clamp<qint64>(v, -maxFive, maxFive);
}

QByteArray fiveDigits(qint64 magnitude) {
    return QByteArray::number(magnitude).rightJustified(5, '0');
}

// Sign bit, first digit and two packed-BCD bytes of one packet value.
void putBcd(QByteArray& out, qint64 value, quint8 extraBits) {
    const qint64 v = clampFive(value);
    const qint64 m = v < 0 ? -v : v;
    const int d[5] = {int(m / 10000 % 10), int(m / 1000 % 10), int(m / 100 % 10), int(m / 10 % 10),
                      int(m % 10)};
    out.append(char((v < 0 ? 0x80 : 0x00) | extraBits | d[0]));
    out.append(char((d[1] << 4) | d[2]));
    out.append(char((d[3] << 4) | d[4]));
}

} // namespace

QByteArray ValueText::signedFive(qint64 value) {
    const qint64 v = clampFive(value);
    return (v < 0 ? QByteArrayLiteral("-") : QByteArrayLiteral("+")) + fiveDigits(v < 0 ? -v : v);
}

QByteArray ValueText::weight(qint64 counts, int decimals) {
    QByteArray text = signedFive(counts);
    if (decimals > 0 && decimals <= 5)
        text.insert(text.size() - decimals, '.');
    return text;
}

QByteArray ValueText::packet(const Packet& p) {
    QByteArray out;
    out.reserve(8);
    out.append('P');
    quint8 status = quint8(p.state & 0x07);
    if (p.noMotion)
        status |= 0x40;
    if (p.overRange)
        status |= 0x20;
    if (p.underRange)
        status |= 0x10;
    out.append(char(status));
    putBcd(out, p.gross, quint8((std::clamp(p.decimals, 0, 7) & 0x07) << 4));
    putBcd(out, p.net, 0);
    return out;
}

} // namespace devsim
