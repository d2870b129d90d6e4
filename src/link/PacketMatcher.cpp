#include "PacketMatcher.h"

#include <algorithm>
#include <cstring>

namespace tarvo {

PacketMatcher::PacketMatcher() {
    buffer_.reserve(kMaxPacket);
}

void PacketMatcher::setStartString(const QByteArray& s) {
    start_ = s;
    startMatched_ = 0;
    collecting_ = false;
    buffer_.resize(0);
}

void PacketMatcher::arm() {
    armed_ = true;
    collecting_ = false;
    startMatched_ = 0;
    buffer_.resize(0);
}

void PacketMatcher::disarm() {
    armed_ = false;
    collecting_ = false;
    startMatched_ = 0;
    buffer_.resize(0);
}

void PacketMatcher::feed(const char* data, qsizetype size) {
    for (qsizetype i = 0; i < size; ++i) {
        if (!armed_ || !enabled_)
            return;
        // Fast paths for the usual one-byte start and end strings: skip to the byte that matters and
        // copy the run before it at once, instead of testing every byte.
        if (!collecting_ && startCondition_ == StartCondition::String && start_.size() == 1 &&
            startMatched_ == 0) {
            // In a stream the next packet's start is usually the very next byte.
            const void* hit = data[i] == start_[0]
                                  ? data + i
                                  : std::memchr(data + i, start_[0], static_cast<size_t>(size - i));
            if (!hit)
                return;
            i = static_cast<const char*>(hit) - data;
            // A whole packet inside this chunk is handed over straight from the input, without a copy.
            if (endConditions_ == EndString && end_.size() == 1) {
                const qsizetype bodyAt = i + 1;
                const qsizetype span = std::min(size - bodyAt, kMaxPacket - 1);
                const void* endHit =
                    span > 0 ? std::memchr(data + bodyAt, end_[0], static_cast<size_t>(span)) : nullptr;
                if (endHit) {
                    const qsizetype end = static_cast<const char*>(endHit) - data;
                    deliverView(include_ ? QByteArrayView(data + i, end + 1 - i)
                                         : QByteArrayView(data + bodyAt, end - bodyAt));
                    i = end;
                    continue;
                }
            }
        } else if (collecting_ && endConditions_ == EndString && end_.size() == 1) {
            const qsizetype room = kMaxPacket - 1 - buffer_.size();
            const qsizetype span = std::min(size - i, room + 1);
            const void* hit = std::memchr(data + i, end_[0], static_cast<size_t>(span));
            if (!hit) {
                if (span > room) { // the packet outgrew the limit: drop it and look for a new start
                    collecting_ = false;
                    buffer_.resize(0);
                    i += room;
                    continue;
                }
                buffer_.append(data + i, span);
                i += span - 1;
                continue;
            }
            const qsizetype end = static_cast<const char*>(hit) - data;
            buffer_.append(data + i, end - i + 1);
            i = end;
            deliver(true);
            continue;
        }
        const char c = data[i];
        if (!collecting_) {
            if (startCondition_ == StartCondition::AnyData || start_.isEmpty()) {
                collecting_ = true;
                buffer_.resize(0);
            } else {
                // Look for the start string; on a mismatch fall back to the longest prefix still matching.
                while (startMatched_ > 0 && start_[startMatched_] != c) {
                    qsizetype k = startMatched_ - 1;
                    while (k > 0 && QByteArrayView(start_.constData() + startMatched_ - k, k) !=
                                        QByteArrayView(start_.constData(), k))
                        --k;
                    startMatched_ = k;
                }
                if (start_[startMatched_] == c)
                    ++startMatched_;
                if (startMatched_ == start_.size()) {
                    collecting_ = true;
                    startMatched_ = 0;
                    buffer_.resize(0);
                    buffer_.append(start_);
                    if ((endConditions_ & EndPacketSize) && packetSize_ > 0 && buffer_.size() >= packetSize_)
                        deliver(false);
                }
                continue;
            }
        }
        buffer_.append(c);
        const qsizetype body =
            buffer_.size() - (startCondition_ == StartCondition::String ? start_.size() : 0);
        if ((endConditions_ & EndString) && !end_.isEmpty() && body >= end_.size() &&
            buffer_.endsWith(end_)) {
            deliver(true);
        } else if ((endConditions_ & EndPacketSize) && packetSize_ > 0 && buffer_.size() >= packetSize_) {
            deliver(false);
        } else if (buffer_.size() >= kMaxPacket) {
            collecting_ = false;
            buffer_.resize(0);
        }
    }
}

void PacketMatcher::deliver(bool endedByString) {
    QByteArrayView packet(buffer_);
    if (!include_) {
        if (startCondition_ == StartCondition::String)
            packet = packet.sliced(start_.size());
        if (endedByString)
            packet.chop(end_.size());
    }
    deliverView(packet);
    // The handler may have re-armed or re-configured the matcher; a fresh search starts either way.
    if (!collecting_)
        buffer_.resize(0);
}

void PacketMatcher::deliverView(QByteArrayView packet) {
    collecting_ = false;
    if (!autoEnable_)
        armed_ = false;
    if (onPacket)
        onPacket(packet);
}

} // namespace tarvo
