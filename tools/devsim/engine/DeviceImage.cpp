#include "DeviceImage.h"

#include "Device.h"

#include <base/TimeScale.h>

namespace devsim {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

void appendHex(QByteArray& out, int byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.append(kDigits[(byte >> 4) & 0xF]);
    out.append(kDigits[byte & 0xF]);
}

QByteArray imageBytes(const Device& device) {
    QByteArray bytes;
    for (const QByteArray& key : DeviceImage::keys()) {
        const auto value = quint32(qint32(device.parameter(key)));
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.append(char((value >> shift) & 0xFF));
    }
    return bytes;
}

} // namespace

const QList<QByteArray>& DeviceImage::keys() {
    static const QList<QByteArray> list = [] {
        QList<QByteArray> k{"CG", "CM", "DS", "DP", "AZ", "AG", "ZT", "NR", "NT", "FL", "FM", "UR",
                            "SD", "MT", "TL", "TE", "RW", "TT", "HT", "TW", "TI", "DT", "TS", "TD"};
        for (const char* prefix : {"S", "H", "A"})
            for (int i = 0; i < 4; ++i)
                k << QByteArray(prefix) + QByteArray::number(i);
        for (int i = 1; i <= 16; ++i)
            k << "PD" + QByteArray::number(i);
        for (int i = 1; i <= 5; ++i)
            k << "PL" + QByteArray::number(i);
        return k;
    }();
    return list;
}

QByteArray DeviceImage::record(int address, const QByteArray& data) {
    QByteArray out;
    int sum = 0;
    auto put = [&](int byte) {
        appendHex(out, byte & 0xFF);
        sum += byte & 0xFF;
    };
    put(int(data.size()));
    put(address >> 8);
    put(address);
    put(0);
    for (const char b : data)
        put(quint8(b));
    appendHex(out, (0x100 - (sum & 0xFF)) & 0xFF);
    return out;
}

QByteArray DeviceImage::records(const Device& device) {
    const QByteArray bytes = imageBytes(device);
    QByteArray out;
    for (qsizetype at = 0; at < bytes.size(); at += kRecordBytes)
        out += ':' + record(int(at), bytes.mid(at, kRecordBytes)) + '\r';
    return out + ":00000001FF\r";
}

void DeviceImage::beginReceiving(const Device& device) {
    receiving_ = true;
    lastByteMs_ = tarvo::monotonicMs();
    text_.clear();
    staged_ = imageBytes(device);
    broken_ = false;
    ended_ = false;
}

bool DeviceImage::receiving() const {
    if (receiving_ && tarvo::monotonicMs() - lastByteMs_ > tarvo::TimeScale::ms(kReceiveLimitMs))
        return false; // a stalled put: what comes now is a command again
    return receiving_;
}

std::optional<QByteArray> DeviceImage::receive(char c, Device& device) {
    lastByteMs_ = tarvo::monotonicMs();
    if (c == '\r' || c == '\n')
        return std::nullopt;
    if (c == ':') {
        if (!text_.isEmpty())
            broken_ = true; // the record before was cut short
        text_ = ":";
    } else if (text_.isEmpty() || hexValue(c) < 0 || text_.size() > 600) {
        broken_ = true;
        return std::nullopt;
    } else {
        text_.append(c);
    }
    // A record is complete when it holds its count's data and the checksum.
    if (text_.size() >= 3) {
        const int count = hexValue(text_[1]) << 4 | hexValue(text_[2]);
        if (text_.size() == 1 + 2 * (count + 5) && !takeRecord())
            broken_ = true;
    }
    if (!ended_)
        return std::nullopt;
    receiving_ = false;
    if (broken_)
        return QByteArray("ERR");
    for (qsizetype i = 0; i < keys().size(); ++i) {
        const qint32 value =
            qint32(quint32(quint8(staged_[4 * i])) << 24 | quint32(quint8(staged_[4 * i + 1])) << 16 |
                   quint32(quint8(staged_[4 * i + 2])) << 8 | quint32(quint8(staged_[4 * i + 3])));
        device.setParameter(keys()[i], value);
    }
    return QByteArray("OK");
}

bool DeviceImage::takeRecord() {
    QByteArray bytes;
    for (qsizetype i = 1; i + 1 < text_.size(); i += 2)
        bytes.append(char(hexValue(text_[i]) << 4 | hexValue(text_[i + 1])));
    text_.clear();
    quint8 sum = 0;
    for (const char b : bytes)
        sum = quint8(sum + quint8(b));
    if (sum != 0 || bytes.size() < 5)
        return false;
    const int type = quint8(bytes[3]);
    if (type == 1) {
        ended_ = true;
        return true;
    }
    const int address = quint8(bytes[1]) << 8 | quint8(bytes[2]);
    const int count = quint8(bytes[0]);
    if (type != 0 || address + count > staged_.size())
        return false;
    for (int i = 0; i < count; ++i)
        staged_[address + i] = bytes[4 + i];
    return true;
}

} // namespace devsim
