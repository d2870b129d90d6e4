#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace devsim {

// The number formats the device puts on the wire.
class ValueText {
public:
    // Sign and five digits: "+00150", "-00042". Values beyond five digits are clamped.
    static QByteArray signedFive(qint64 value);
    // A weight in counts as the device prints it: sign, five digits, the decimal point placed by the
    // decimal count ("+0123.4" for 1234 counts with one decimal).
    static QByteArray weight(qint64 counts, int decimals);
    // What a value line carries instead of a weight while the input is over or under range.
    static QByteArray overRange() { return QByteArrayLiteral("ooooooo"); }
    static QByteArray underRange() { return QByteArrayLiteral("uuuuuuu"); }

    // One status packet: "P", status byte, three gross bytes, three net bytes (no "\r").
    struct Packet {
        int state = 0;
        bool noMotion = false;
        bool overRange = false;
        bool underRange = false;
        qint64 gross = 0;
        qint64 net = 0;
        int decimals = 0;
    };
    static QByteArray packet(const Packet& p);
};

} // namespace devsim
