#include "SimProbe.h"

#include <engine/Device.h>
#include <engine/Line.h>
#include <engine/ValueText.h>
#include <engine/WeighCycle.h>
#include <engine/WeightProfile.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QList>
#include <QThread>
#include <set>

using devsim::DeviceConfig;
using devsim::Line;
using devsim::test::HostSide;
using devsim::test::ScopedTimeScale;
using devsim::test::waitUntil;

namespace {

QList<QByteArray> linesOf(const QByteArray& bytes) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype end = bytes.indexOf('\r'); end >= 0; end = bytes.indexOf('\r', start)) {
        lines.append(bytes.mid(start, end - start));
        start = end + 1;
    }
    return lines;
}

struct Decoded {
    int state;
    bool noMotion, over, under;
    int decimals;
    int gross, net;
};

// Decodes a status packet the way the program's decoder reads it.
Decoded decode(const QByteArray& p) {
    auto value = [&](int first) {
        const auto b = [&](int i) { return quint8(p[first + i]); };
        const int n = (b(0) & 0x0F) * 10000 + (b(1) >> 4) * 1000 + (b(1) & 0x0F) * 100 + (b(2) >> 4) * 10 +
                      (b(2) & 0x0F);
        return (b(0) & 0x80) ? -n : n;
    };
    const quint8 status = quint8(p[1]);
    return {status & 7,
            (status & 0x40) != 0,
            (status & 0x20) != 0,
            (status & 0x10) != 0,
            (quint8(p[2]) >> 4) & 7,
            value(2),
            value(5)};
}

TEST(ValueTexts, PacketForAKnownWeight) {
    const QByteArray p = devsim::ValueText::packet({5, true, false, false, -23456, 1234, 1});
    ASSERT_EQ(p.size(), 8);
    EXPECT_EQ(p[0], 'P');
    EXPECT_EQ(quint8(p[1]), 0x45);
    EXPECT_EQ(quint8(p[2]), 0x92);
    EXPECT_EQ(quint8(p[3]), 0x34);
    EXPECT_EQ(quint8(p[4]), 0x56);
    EXPECT_EQ(quint8(p[5]), 0x00);
    EXPECT_EQ(quint8(p[6]), 0x12);
    EXPECT_EQ(quint8(p[7]), 0x34);
    EXPECT_EQ(devsim::ValueText::weight(1234, 1), "+0123.4");
    EXPECT_EQ(devsim::ValueText::weight(-5, 2), "-000.05");
    EXPECT_EQ(devsim::ValueText::weight(99999, 0), "+99999");
}

TEST(Streams, GrossAndNetLinesAtTheUpdateInterval) {
    Line line;
    DeviceConfig config;
    config.weight = 123.4;
    config.tare = 0.4;
    config.updateMs = 20;
    line.addDevice(config);
    HostSide host(line);
    line.hostWrite("SG\r", 115200);
    ASSERT_TRUE(host.waitLines(3, 1000));
    for (const QByteArray& l : linesOf(host.bytes()))
        EXPECT_EQ(l, "G+0123.4");
    line.hostWrite("SN\r", 115200);
    devsim::test::waitUntil([] { return false; }, 30);
    host.clear();
    ASSERT_TRUE(host.waitLines(2, 1000));
    EXPECT_EQ(linesOf(host.bytes()).front(), "N+0123.0");
}

TEST(Streams, AtLineRateTheCountedLinesFillTheWireButNeverOutrunIt) {
    Line line;
    DeviceConfig config;
    config.decimals = 0;
    config.counterStart = 0;
    config.updateMs = 0;
    config.baud = 9600;
    line.addDevice(config);
    HostSide host(line);
    QElapsedTimer clock;
    clock.start();
    line.hostWrite("SN\r", 9600);
    ASSERT_TRUE(host.waitLines(120, 3000));
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    const QList<QByteArray> lines = linesOf(host.bytes());
    // "N+00000" and its "\r" take 8 ms at 9600 baud; 50 ms of backlog may go at once.
    EXPECT_LE(lines.size(), int((ms + 50) / (8 * 10000.0 / 9600)) + 1);
    for (int i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], "N" + devsim::ValueText::weight(i, 0)) << i;
}

TEST(Streams, AStalledSimulatorSendsTheSamplesItOwedWithTheWeightsOfTheirTimes) {
    // A step of the load streamed every 10 ms, and the simulator held up for 60 ms during the rise, as
    // a busy machine does: the lines it owes follow at once, each with the weight at its own time.
    Line line;
    DeviceConfig config;
    config.decimals = 0;
    config.updateMs = 10;
    devsim::Device* device = line.addDevice(config);
    devsim::WeightProfile::Settings settings;
    settings.kind = devsim::WeightProfile::Kind::Step;
    settings.load = 2000;
    settings.periodMs = 2400;
    settings.settlingMs = 300;
    settings.amplitude = 0;
    device->setProfile(settings);
    const devsim::WeightProfile profile(settings, 0);
    HostSide host(line);
    QElapsedTimer clock;
    clock.start();
    line.hostWrite("SG\r", 115200);
    ASSERT_TRUE(waitUntil([&] { return clock.elapsed() >= 640; }, 2000));
    QThread::msleep(40);
    ASSERT_TRUE(waitUntil([&] { return clock.elapsed() >= 900; }, 2000));
    const qint64 streamedMs = clock.elapsed();
    const QList<QByteArray> lines = linesOf(host.bytes());
    EXPECT_GE(lines.size(), streamedMs / 10 - 3);

    // One start of the stream on the profile's clock fits every line, give or take the clocks' 2 ms.
    auto fits = [&](qint64 offset) {
        for (int k = 0; k < lines.size(); ++k) {
            const qint64 t = offset + 10 * (k + 1);
            const qint64 a = profile.weightAt(std::max<qint64>(0, t - 2)), b = profile.weightAt(t + 2);
            const qint64 value = lines[k].mid(1).toLongLong();
            if (value < std::min(a, b) || value > std::max(a, b))
                return false;
        }
        return true;
    };
    bool fitted = false;
    for (qint64 offset = 0; offset <= 40 && !fitted; ++offset)
        fitted = fits(offset);
    EXPECT_TRUE(fitted) << lines.size() << " lines in " << streamedMs << " ms: " << host.bytes().toStdString();
    EXPECT_GT(lines.back().mid(1).toLongLong(), 1000); // the stall came during the rise
}

TEST(Streams, AverageStreamStartsWithOk) {
    Line line;
    DeviceConfig config;
    config.weight = 50;
    config.updateMs = 20;
    line.addDevice(config);
    HostSide host(line);
    line.hostWrite("SA\r", 115200);
    ASSERT_TRUE(host.waitLines(3, 1000));
    const QList<QByteArray> lines = linesOf(host.bytes());
    EXPECT_EQ(lines[0], "OK");
    EXPECT_EQ(lines[1], "A+0050.0");
}

TEST(Streams, OverAndUnderRangeWords) {
    Line line;
    DeviceConfig config;
    config.updateMs = 10;
    line.addDevice(config);
    HostSide host(line);
    line.setFault(Line::Fault::Overrange);
    line.hostWrite("SG\r", 115200);
    ASSERT_TRUE(host.waitLines(1, 1000));
    EXPECT_EQ(linesOf(host.bytes()).front(), "Gooooooo");
    line.setFault(Line::Fault::Underrange);
    host.clear();
    ASSERT_TRUE(host.waitLines(2, 1000));
    EXPECT_EQ(linesOf(host.bytes()).back(), "Guuuuuuu");
    // The stream goes on while the device answers, so its answer may come behind a stream line.
    host.clear();
    line.hostWrite("IS\r", 115200);
    QByteArray status;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const QByteArray& l : linesOf(host.bytes()))
                if (l.startsWith("S:"))
                    status = l;
            return !status.isEmpty();
        },
        1000));
    EXPECT_EQ(status.left(5), "S:005");
    line.setFault(Line::Fault::None);
    host.clear();
    ASSERT_TRUE(host.waitLines(2, 1000));
    EXPECT_EQ(linesOf(host.bytes()).back(), "G+0000.0");
}

TEST(Streams, SteadyDevicePacketsCarryItsWeight) {
    Line line;
    DeviceConfig config;
    config.weight = 123.4;
    line.addDevice(config);
    HostSide host(line);
    line.hostWrite("GP-1\r", 115200);
    ASSERT_TRUE(host.waitLines(2, 1000));
    const QByteArray first = host.bytes().left(9);
    ASSERT_EQ(first.size(), 9);
    EXPECT_EQ(first[8], '\r');
    const Decoded d = decode(first);
    EXPECT_EQ(d.state, 0);
    EXPECT_TRUE(d.noMotion);
    EXPECT_EQ(d.decimals, 1);
    EXPECT_EQ(d.gross, 1234);
    EXPECT_EQ(d.net, 1234);
    line.setFault(Line::Fault::Overrange);
    host.clear();
    ASSERT_TRUE(host.waitLines(1, 1000));
    EXPECT_TRUE(decode(host.bytes().left(9)).over);
}

// A device of the given identity sending its status packets (weight 500).
struct StatusStream {
    Line line;
    HostSide host{line};
    explicit StatusStream(int identity) {
        DeviceConfig config;
        config.identity = identity;
        config.weight = 500;
        line.addDevice(config);
        line.hostWrite("GP-1\r", 115200);
    }
};

// The states of the whole packets in a stream's bytes, which may begin or end inside one.
QList<int> packetStates(const QByteArray& b) {
    QList<int> states;
    for (qsizetype at = 0; at + 9 <= b.size();) {
        if (b[at] == 'P' && b[at + 8] == '\r') {
            states.append(decode(b.mid(at, 9)).state);
            at += 9;
        } else {
            ++at;
        }
    }
    return states;
}

// Collects the state sequence of a status stream, without repeats.
QList<int> stateSequence(int identity, int packets) {
    StatusStream stream(identity);
    EXPECT_TRUE(stream.host.waitLines(packets, 20000));
    // From its start the stream is whole packets, one after another.
    const QList<int> all = packetStates(stream.host.bytes());
    EXPECT_EQ(all.size(), stream.host.bytes().size() / 9);
    QList<int> states;
    for (int s : all)
        if (states.isEmpty() || states.back() != s)
            states.append(s);
    return states;
}

TEST(Streams, CheckWeigherCyclesThroughItsStates) {
    ScopedTimeScale scale(0.05);
    // Three items of about 1.2 s each at 20 ms per packet.
    const QList<int> states = stateSequence(4113, 200);
    const QList<int> expected{0, 1, 2, 4, 0, 1, 2, 4, 0, 1, 2, 3, 4, 0};
    ASSERT_GE(states.size(), expected.size());
    EXPECT_EQ(states.mid(0, expected.size()), expected);
}

TEST(Streams, DosingFillsThroughAllEightStates) {
    ScopedTimeScale scale(0.05);
    const QList<int> states = stateSequence(4114, 130);
    const QList<int> expected{0, 1, 2, 3, 4, 5, 6, 7, 0};
    ASSERT_GE(states.size(), expected.size());
    EXPECT_EQ(states.mid(0, expected.size()), expected);
}

// A recorder asks for the stream again after each result read: that must not cut the filling short, or
// the restart would look like another finished cycle.
TEST(Streams, AStreamAskedForAgainGoesOnWithTheCycleWhereItWas) {
    ScopedTimeScale scale(0.05);
    StatusStream stream(4114);
    HostSide& host = stream.host;
    ASSERT_TRUE(host.waitLines(60, 20000)); // 1.2 s of device time: filling
    const QList<int> first = packetStates(host.bytes());
    ASSERT_FALSE(first.isEmpty());
    ASSERT_GE(first.back(), 3);
    host.clear();
    stream.line.hostWrite("GP-1\r", 115200);
    ASSERT_TRUE(host.waitLines(20, 20000));
    int previous = first.back();
    const QList<int> then = packetStates(host.bytes());
    ASSERT_GE(then.size(), 15);
    for (int state : then) {
        EXPECT_GE(state, previous);
        previous = state;
    }
}

TEST(WeighCycles, DosingWeightRisesWhileFillingAndLossWeightFalls) {
    devsim::WeighCycle dosing(devsim::WeighCycle::Kind::Dosing, 5000, 0);
    qint64 last = -1;
    int rises = 0;
    for (int t = 0; t < 2500; t += 20) {
        dosing.advance(20);
        if (dosing.state() >= 3 && dosing.state() <= 5) {
            EXPECT_GE(dosing.gross(), last);
            rises += dosing.gross() > last;
        }
        last = dosing.gross();
    }
    EXPECT_GT(rises, 50);

    devsim::WeighCycle loss(devsim::WeighCycle::Kind::LossWeigher, 5000, 0);
    loss.advance(700); // past the refill
    const qint64 before = loss.gross();
    loss.advance(1000);
    EXPECT_LT(loss.gross(), before);
    EXPECT_EQ(devsim::WeighCycle::kindFor(5115), devsim::WeighCycle::Kind::LossWeigher);
    EXPECT_EQ(devsim::WeighCycle::kindFor(6110), devsim::WeighCycle::Kind::CheckWeigher);
    EXPECT_EQ(devsim::WeighCycle::kindFor(4110), devsim::WeighCycle::Kind::Steady);
}

} // namespace
