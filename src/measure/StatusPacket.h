#pragma once

#include <QByteArrayView>
#include <optional>

namespace tarvo {

// A binary status packet as the stream matcher delivers it: the seven bytes after "P". Byte 0 is the
// status byte, bytes 1..3 gross and 4..6 net (sign bit, 10^4 digit, four packed-BCD digits); bits 4..6
// of byte 1 give the decimal count for both values.
struct StatusPacket {
    int state = 0; // 0..7
    bool noMotion = false;
    bool overRange = false;
    bool underRange = false;
    int decimals = 0;
    int grossCounts = 0; // signed five-digit integers as sent
    int netCounts = 0;
    double gross = 0; // scaled by the decimal count
    double net = 0;

    static constexpr int kSize = 7;
    // Only a text of exactly seven bytes is a packet: a "P" inside a packet's bytes can start a false
    // frame, whose text is then shorter or longer.
    static std::optional<StatusPacket> decode(QByteArrayView text);
    // 10^d for d = 0..5; any other count leaves the value undivided.
    static double divisor(int decimals);
};

} // namespace tarvo
