#include "CanReplyText.h"

#include "protocol/CommandTable.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace tarvo::CanReplyText {

namespace {
QByteArray printed(const char* format, double value) {
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, format, value);
    return QByteArray(buffer, std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1));
}

QByteArray printedInt(const char* format, long long value) {
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, format, value);
    return QByteArray(buffer, std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1));
}

const char* decimalFormat(int decimals) {
    switch (decimals) {
    case 0:
        return "%5.0f";
    case 1:
        return "%6.1f";
    case 2:
        return "%6.2f";
    case 3:
        return "%6.3f";
    case 4:
        return "%6.4f";
    default:
        return "%g";
    }
}

// The five digits of a packet value: "%5.0f" of the magnitude, leading blanks as "0". A magnitude the
// five digits cannot hold shows as 99999 rather than as its first five digits.
void packetDigits(double magnitude, char digits[5]) {
    const QByteArray text = printed("%5.0f", std::min(magnitude, 99999.0)).replace(' ', '0');
    for (int i = 0; i < 5; ++i)
        digits[i] = static_cast<char>(i < text.size() ? text[i] - '0' : 0);
}
} // namespace

std::int32_t integerAt(const CanMessage& m, int first) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | m.data[static_cast<std::size_t>(first + i)];
    return static_cast<std::int32_t>(v);
}

float floatAt(const CanMessage& m, int first) {
    const std::uint32_t bits = static_cast<std::uint32_t>(integerAt(m, first));
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

QByteArray signedFive(std::int32_t value) {
    return value >= 0 ? "+" + printedInt("%.5lld", value) : printedInt("%.5lld", value);
}

QByteArray parameterValue(const CommandEntry& row, const CanMessage& answer) {
    const std::int32_t value = integerAt(answer, 4);
    switch (row.format) {
    case 1:
        return printedInt("%.3lld", value);
    case 2:
        return printedInt("%.3lld", value) + "000";
    case 3:
        return printedInt("%.4lld", value);
    case 7:
        return QByteArray::number(answer.data[4], 16).rightJustified(2, '0').toUpper() +
               QByteArray::number(answer.data[5], 16).rightJustified(2, '0').toUpper();
    default:
        return signedFive(value);
    }
}

std::optional<QByteArray> measuredValue(float value, int decimals) {
    if (!std::isfinite(value))
        return std::nullopt;
    QByteArray number = printed(decimalFormat(decimals), std::fabs(static_cast<double>(value)));
    number.replace(',', '.').replace(' ', '0');
    return (value < 0 ? QByteArray("-") : QByteArray("+")) + number;
}

std::optional<QByteArray> statusPacket(const CanMessage& frame, double tare, int decimals) {
    const double v = floatAt(frame, 0);
    if (!std::isfinite(v) || !std::isfinite(tare))
        return std::nullopt;
    const double scale = decimals > 0 ? std::pow(10.0, std::min(decimals, 9)) : 1.0;
    const double gross = (v + tare) * scale;
    const double net = v * scale;
    char g[5];
    char n[5];
    packetDigits(std::fabs(gross), g);
    packetDigits(std::fabs(net), n);
    const std::uint8_t flags = frame.data[5];
    const std::uint8_t nibbles = frame.data[7];
    QByteArray packet(8, '\0');
    packet[0] = 'P';
    std::uint8_t status = 0x80 | (nibbles & 0x0F);
    if (flags & 0x10)
        status |= 0x40;
    if (flags & 0x02)
        status |= 0x20;
    if (flags & 0x01)
        status |= 0x10;
    packet[1] = static_cast<char>(status);
    packet[2] = static_cast<char>((gross < 0 ? 0x80 : 0) | (nibbles & 0x70) | g[0]);
    packet[3] = static_cast<char>((g[1] << 4) | g[2]);
    packet[4] = static_cast<char>((g[3] << 4) | g[4]);
    packet[5] = static_cast<char>((net < 0 ? 0x80 : 0) | n[0]);
    packet[6] = static_cast<char>((n[1] << 4) | n[2]);
    packet[7] = static_cast<char>((n[3] << 4) | n[4]);
    return packet;
}

std::optional<QString> errorReport(std::uint32_t code) {
    QString text = QStringLiteral("Error Code = ") +
                   QStringLiteral("%1").arg(code & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper() +
                   QLatin1Char('\r');
    if (code & 0x1C00) {
        if ((code & 0x1400) == 0x1400)
            text += QLatin1String("CAN_ERR_ILLHW\r");
        if ((code & 0x1800) == 0x1800)
            text += QLatin1String("CAN_ERR_ILLNET\r");
        return text;
    }
    struct Bit {
        std::uint32_t mask;
        const char* name;
    };
    static constexpr Bit kBusBits[] = {{0x0001, "CAN_ERR_XMTFULL"},
                                       {0x0002, "CAN_ERR_OVERRUN"},
                                       {0x0004, "CAN_ERR_BUSLIGHT"},
                                       {0x0008, "CAN_ERR_BUSHEAVY"},
                                       {0x0010, "CAN_ERR_BUSOFF"}};
    static constexpr Bit kOtherBits[] = {{0x0040, "CAN_ERR_QOVERRUN"}, {0x0080, "CAN_ERR_QXMTFULL"},
                                         {0x0100, "CAN_ERR_REGTEST"},  {0x0200, "CAN_ERR_NOVXD"},
                                         {0x2000, "CAN_ERR_RESOURCE"}, {0x4000, "CAN_ERR_PARMTYP"},
                                         {0x8000, "CAN_ERR_PARMVAL"}};
    for (const Bit& bit : kBusBits)
        if (code & bit.mask)
            text += QLatin1String(bit.name) + QLatin1Char('\r');
    if (code & CanStatus::kQueueEmpty)
        return std::nullopt;
    for (const Bit& bit : kOtherBits)
        if (code & bit.mask)
            text += QLatin1String(bit.name) + QLatin1Char('\r');
    return text;
}

} // namespace tarvo::CanReplyText
