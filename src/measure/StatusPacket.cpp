#include "StatusPacket.h"

namespace tarvo {

namespace {
constexpr double kDivisors[] = {1, 10, 100, 1000, 10000, 100000};

int bcdValue(const unsigned char* b) {
    const int n =
        (b[0] & 0x0f) * 10000 + (b[1] >> 4) * 1000 + (b[1] & 0x0f) * 100 + (b[2] >> 4) * 10 + (b[2] & 0x0f);
    return (b[0] & 0x80) ? -n : n;
}
} // namespace

double StatusPacket::divisor(int decimals) {
    return decimals >= 0 && decimals <= 5 ? kDivisors[decimals] : 1.0;
}

std::optional<StatusPacket> StatusPacket::decode(QByteArrayView text) {
    if (text.size() != kSize)
        return std::nullopt;
    const auto* b = reinterpret_cast<const unsigned char*>(text.data());
    StatusPacket p;
    p.state = b[0] & 0x07;
    p.underRange = b[0] & 0x10;
    p.overRange = b[0] & 0x20;
    p.noMotion = b[0] & 0x40;
    p.decimals = (b[1] >> 4) & 0x07;
    p.grossCounts = bcdValue(b + 1);
    p.netCounts = bcdValue(b + 4);
    const double d = divisor(p.decimals);
    p.gross = p.grossCounts / d;
    p.net = p.netCounts / d;
    return p;
}

} // namespace tarvo
