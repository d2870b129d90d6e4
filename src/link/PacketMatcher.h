#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <functional>

namespace tarvo {

// Frames packets out of a byte stream: from a start string (or the first byte) up to an end string
// and/or a packet size. Works on bytes, never on decoded text, and allocates nothing per packet.
class PacketMatcher {
public:
    enum class StartCondition { String, AnyData };
    enum EndCondition { EndString = 1, EndPacketSize = 2 };
    // A packet that never ends is cut here and dropped, so a babbling line cannot grow memory.
    static constexpr qsizetype kMaxPacket = 8192;

    PacketMatcher();

    void setStartCondition(StartCondition c) { startCondition_ = c; }
    StartCondition startCondition() const { return startCondition_; }
    void setStartString(const QByteArray& s);
    const QByteArray& startString() const { return start_; }
    void setEndConditions(int flags) { endConditions_ = flags; }
    int endConditions() const { return endConditions_; }
    void setEndString(const QByteArray& s) { end_ = s; }
    const QByteArray& endString() const { return end_; }
    void setIncludeStrings(bool on) { include_ = on; }
    bool includeStrings() const { return include_; }
    void setPacketSize(int size) { packetSize_ = size; }

    // Arming starts a fresh search; disarming drops a partial packet.
    void arm();
    void disarm();
    bool isArmed() const { return armed_; }
    void setEnabled(bool on) { enabled_ = on; }
    bool isEnabled() const { return enabled_; }
    // With auto-enable the matcher stays armed after a packet and frames the next one.
    void setAutoEnable(bool on) { autoEnable_ = on; }
    bool autoEnable() const { return autoEnable_; }
    bool isActive() const { return armed_ && enabled_; }

    void feed(const char* data, qsizetype size);
    void feed(QByteArrayView bytes) { feed(bytes.data(), bytes.size()); }

    // Receives the framed packet; the view is valid only during the call.
    std::function<void(QByteArrayView)> onPacket;

private:
    void deliver(bool endedByString);
    void deliverView(QByteArrayView packet);
    StartCondition startCondition_ = StartCondition::String;
    QByteArray start_;
    QByteArray end_;
    int endConditions_ = EndString;
    bool include_ = false;
    int packetSize_ = 0;
    bool armed_ = false;
    bool enabled_ = false;
    bool autoEnable_ = false;
    bool collecting_ = false;
    qsizetype startMatched_ = 0; // bytes of the start string seen so far
    QByteArray buffer_;
};

} // namespace tarvo
