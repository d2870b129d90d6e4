#include "link/PacketMatcher.h"

#include <QList>

#include <gtest/gtest.h>

using tarvo::PacketMatcher;

namespace {

struct Collector {
    QList<QByteArray> packets;
    void attach(PacketMatcher& m) {
        m.onPacket = [this](QByteArrayView p) { packets << p.toByteArray(); };
    }
};

PacketMatcher stringMatcher(const QByteArray& start, bool autoEnable = true) {
    PacketMatcher m;
    m.setStartString(start);
    m.setEndString("\r");
    m.setEndConditions(PacketMatcher::EndString);
    m.arm();
    m.setEnabled(true);
    m.setAutoEnable(autoEnable);
    return m;
}

} // namespace

TEST(PacketMatcher, FramesFromStartStringToEndStringAcrossChunks) {
    PacketMatcher m = stringMatcher("D:");
    Collector c;
    c.attach(m);
    m.feed(QByteArrayView("xxD"));
    m.feed(QByteArrayView(":41"));
    m.feed(QByteArrayView("14\rnoise D:0001\r"));
    EXPECT_EQ(c.packets, (QList<QByteArray>{"4114", "0001"}));
}

TEST(PacketMatcher, RecoversFromAPartialStartStringMatch) {
    PacketMatcher m = stringMatcher("A+");
    Collector c;
    c.attach(m);
    m.feed(QByteArrayView("AA+12\r"));
    EXPECT_EQ(c.packets, QList<QByteArray>{"12"});
}

TEST(PacketMatcher, WithoutAutoEnableStopsAfterOnePacket) {
    PacketMatcher m = stringMatcher("O", false);
    Collector c;
    c.attach(m);
    m.feed(QByteArrayView("OK\rOK\r"));
    EXPECT_EQ(c.packets, QList<QByteArray>{"K"});
    EXPECT_FALSE(m.isArmed());
}

TEST(PacketMatcher, IncludeStringsAndAnyDataAndPacketSize) {
    PacketMatcher m;
    m.setStartCondition(PacketMatcher::StartCondition::AnyData);
    m.setEndConditions(PacketMatcher::EndPacketSize);
    m.setPacketSize(1);
    m.setIncludeStrings(true);
    m.arm();
    m.setEnabled(true);
    m.setAutoEnable(true);
    Collector c;
    c.attach(m);
    m.feed(QByteArrayView("\x06U", 2));
    EXPECT_EQ(c.packets, (QList<QByteArray>{QByteArray("\x06", 1), "U"}));

    PacketMatcher s = stringMatcher("G");
    s.setIncludeStrings(true);
    Collector d;
    d.attach(s);
    s.feed(QByteArrayView("G+1\r"));
    EXPECT_EQ(d.packets, QList<QByteArray>{"G+1\r"});
}

TEST(PacketMatcher, KeepsBinaryBytesAndIgnoresInputWhenDisabledOrDisarmed) {
    PacketMatcher m = stringMatcher("P");
    Collector c;
    c.attach(m);
    const char packet[] = {'P', '\xC5', '\x12', '\x34', '\x56', '\x00', '\x12', '\x34', '\r'};
    m.feed(packet, sizeof packet);
    ASSERT_EQ(c.packets.size(), 1);
    EXPECT_EQ(c.packets[0], QByteArray(packet + 1, 7));

    m.setEnabled(false);
    m.feed(QByteArrayView("P1234567\r"));
    m.setEnabled(true);
    m.disarm();
    m.feed(QByteArrayView("P1234567\r"));
    EXPECT_EQ(c.packets.size(), 1);
}

TEST(PacketMatcher, DropsAPacketThatNeverEndsAndFramesTheNextOne) {
    PacketMatcher m = stringMatcher("G");
    Collector c;
    c.attach(m);
    const QByteArray endless(PacketMatcher::kMaxPacket * 2, '5');
    m.feed(QByteArrayView("G"));
    m.feed(endless);
    m.feed(QByteArrayView("\rG+7\r"));
    EXPECT_EQ(c.packets, QList<QByteArray>{"+7"});
}

TEST(PacketMatcher, EndStringMustFollowTheStartString) {
    // "\r" right after a one-letter start must end an empty packet, not be missed.
    PacketMatcher m = stringMatcher("N");
    Collector c;
    c.attach(m);
    m.feed(QByteArrayView("N\rN-1\r"));
    EXPECT_EQ(c.packets, (QList<QByteArray>{"", "-1"}));
}
