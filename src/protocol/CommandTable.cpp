#include "CommandTable.h"

namespace tarvo {

namespace {
bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
} // namespace

std::optional<std::size_t> findCommandRow(std::string_view word) {
    if (word.empty())
        return std::nullopt;
    const char first = word[0];
    const char second = word.size() > 1 ? word[1] : 0;
    for (std::size_t i = 0; i < kCommandRows; ++i) {
        const CommandEntry& row = kCommandTable[i];
        if (row.mnemonic1 != first)
            continue;
        if (row.isSetpointRow())
            return isLetter(second) ? std::nullopt : std::optional<std::size_t>(i);
        if (row.mnemonic2 == second)
            return i;
    }
    return std::nullopt;
}

QByteArray replyPrefix(const CommandEntry& row) {
    QByteArray prefix(1, row.prefix1);
    if (row.prefix2)
        prefix.append(row.prefix2);
    return prefix;
}

int canBitsPerSecond(std::uint16_t btr) {
    for (const CanBitRate& rate : kCanBitRates)
        if (rate.btr == btr)
            return rate.bitsPerSecond;
    return 0;
}

QString canNodeName(int nodeId) {
    return QStringLiteral("CAN_ADDR_%1").arg(nodeId);
}

bool isSupportedBaud(qint64 baud) {
    for (int rate : kBaudRates)
        if (rate == baud)
            return true;
    return false;
}

QString deviceAddressChoice(int index) {
    if (index <= 0)
        return QStringLiteral("None");
    return QStringLiteral("%1").arg(index - 1, 2, 10, QLatin1Char('0'));
}

bool isDeviceAddressChoice(const QString& text) {
    if (text == QLatin1String("None"))
        return true;
    auto digit = [](QChar c) { return c >= u'0' && c <= u'9' ? c.unicode() - u'0' : -1; };
    if (text.size() != 2 || digit(text[0]) < 0 || digit(text[1]) < 0)
        return false;
    return digit(text[0]) * 10 + digit(text[1]) < kDeviceAddressCount;
}

QByteArray commandLine(QByteArrayView mnemonic) {
    return mnemonic.toByteArray() + '\r';
}

QByteArray commandLine(QByteArrayView mnemonic, long long value, bool blank) {
    QByteArray line = mnemonic.toByteArray();
    if (blank)
        line += ' ';
    line += QByteArray::number(value);
    line += '\r';
    return line;
}

QByteArray commandLine(QByteArrayView mnemonic, QByteArrayView argumentText, bool blank) {
    QByteArray line = mnemonic.toByteArray();
    if (blank)
        line += ' ';
    line += argumentText;
    line += '\r';
    return line;
}

QByteArray addressLine(QByteArrayView prefix, const QString& twoDigitAddress) {
    return prefix.toByteArray() + twoDigitAddress.toLatin1() + '\r';
}

QByteArray baudLine(int baud) {
    return "br" + QByteArray::number(baud) + '\r';
}

} // namespace tarvo
