// The packet matcher under every start and end condition, fed arbitrary bytes in arbitrary chunks and
// re-armed or disarmed between them. Its fast paths must frame exactly what a plain byte-by-byte
// reading of the rules frames; no packet may exceed the size limit.
#include "FuzzEntry.h"
#include "link/PacketMatcher.h"

#include <vector>

using tarvo::PacketMatcher;
using tarvo::fuzz::FuzzInput;

namespace {

// The framing rules, one byte at a time, with nothing clever.
class PlainMatcher {
public:
    bool anyData = false;
    QByteArray start;
    QByteArray end;
    int endConditions = 0;
    bool include = false;
    int packetSize = 0;
    bool autoEnable = false;
    bool armed = false;
    std::vector<QByteArray> packets;

    void arm() {
        armed = true;
        reset();
    }
    void disarm() {
        armed = false;
        reset();
    }
    void feed(const QByteArray& bytes) {
        for (const char c : bytes) {
            if (!armed)
                return;
            if (!collecting_) {
                if (anyData || start.isEmpty()) {
                    collecting_ = true;
                    buffer_.clear();
                } else {
                    seen_.append(c);
                    if (seen_.size() > start.size())
                        seen_.remove(0, 1);
                    if (seen_ == start) {
                        collecting_ = true;
                        seen_.clear();
                        buffer_ = start;
                        if ((endConditions & PacketMatcher::EndPacketSize) && packetSize > 0 &&
                            buffer_.size() >= packetSize)
                            deliver(false);
                    }
                    continue;
                }
            }
            buffer_.append(c);
            const qsizetype body = buffer_.size() - (anyData ? 0 : start.size());
            if ((endConditions & PacketMatcher::EndString) && !end.isEmpty() && body >= end.size() &&
                buffer_.endsWith(end))
                deliver(true);
            else if ((endConditions & PacketMatcher::EndPacketSize) && packetSize > 0 &&
                     buffer_.size() >= packetSize)
                deliver(false);
            else if (buffer_.size() >= PacketMatcher::kMaxPacket)
                reset();
        }
    }

private:
    void reset() {
        collecting_ = false;
        seen_.clear();
        buffer_.clear();
    }
    void deliver(bool endedByString) {
        QByteArray packet = buffer_;
        if (!include) {
            if (!anyData)
                packet.remove(0, start.size());
            if (endedByString)
                packet.chop(end.size());
        }
        packets.push_back(packet);
        collecting_ = false;
        buffer_.clear();
        if (!autoEnable)
            armed = false;
    }
    bool collecting_ = false;
    QByteArray seen_;
    QByteArray buffer_;
};

} // namespace

TARVO_FUZZ_ENTRY(packet_matcher) {
    FuzzInput in(data, size);
    PacketMatcher matcher;
    PlainMatcher plain;

    plain.anyData = in.flag();
    plain.start = in.bytes(in.pick(4));
    plain.end = in.bytes(in.pick(4));
    plain.endConditions = in.pick(4);
    plain.include = in.flag();
    plain.packetSize = in.byte() * (in.flag() ? 64 : 1); // some beyond the size limit
    plain.autoEnable = in.flag();

    matcher.setStartCondition(plain.anyData ? PacketMatcher::StartCondition::AnyData
                                            : PacketMatcher::StartCondition::String);
    matcher.setStartString(plain.start);
    matcher.setEndString(plain.end);
    matcher.setEndConditions(plain.endConditions);
    matcher.setIncludeStrings(plain.include);
    matcher.setPacketSize(plain.packetSize);
    matcher.setAutoEnable(plain.autoEnable);
    matcher.setEnabled(true);
    std::vector<QByteArray> packets;
    matcher.onPacket = [&](QByteArrayView packet) {
        FUZZ_REQUIRE(packet.size() <= PacketMatcher::kMaxPacket);
        packets.push_back(packet.toByteArray());
    };
    matcher.arm();
    plain.arm();

    while (!in.empty()) {
        switch (in.pick(8)) {
        case 0:
            matcher.arm();
            plain.arm();
            break;
        case 1:
            matcher.disarm();
            plain.disarm();
            break;
        case 2: { // a long run, to reach the size limit with a short input
            const QByteArray chunk = in.bytes(1 + in.pick(8)).repeated(32 * (1 + in.pick(64)));
            matcher.feed(chunk);
            plain.feed(chunk);
            break;
        }
        default: {
            const QByteArray chunk = in.bytes(in.byte());
            matcher.feed(chunk);
            plain.feed(chunk);
            break;
        }
        }
        FUZZ_REQUIRE(matcher.isArmed() == plain.armed);
    }
    FUZZ_REQUIRE(packets == plain.packets);
    return 0;
}
