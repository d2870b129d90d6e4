// Every seed of the CAN fuzzers and every input that ever crashed them, run through the bridge's line
// handling and frame decoding in the sanitizer build, so a regression shows without running a fuzzer.
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "link/CanBridge.h"
#include "link/CanReplyText.h"
#include "measure/StatusPacket.h"
#include "support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <cstring>
#include <gtest/gtest.h>

using namespace tarvo;

namespace {

QList<QByteArray> inputsIn(const QString& folder) {
    QList<QByteArray> inputs;
    const QDir dir(tarvo::test::sourceDir() + "/fuzz/" + folder);
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (name != ".gitkeep" && file.open(QIODevice::ReadOnly))
            inputs << file.readAll();
    }
    return inputs;
}

} // namespace

TEST(CanCorpusReplay, LinesAndFramesFromTheCorporaAreHandledSafely) {
    TimeScale::setFactor(0.01);
    SilentOperator op;
    CanAdapter adapter({QStringLiteral("no-such-plugin"), QStringLiteral("can0")});
    CanBridge bridge(adapter, op);
    bridge.setErrorReporting(true);
    QList<QByteArray> lines;
    bridge.setLineCallback([&](QByteArrayView line) { lines << line.toByteArray(); });

    const QList<QByteArray> lineInputs = inputsIn("corpus/canline") + inputsIn("crashes/canline");
    ASSERT_GE(lineInputs.size(), 10) << "seed corpus missing";
    for (const QByteArray& input : lineInputs) {
        const std::optional<QByteArray> reply = bridge.exchange(input);
        EXPECT_TRUE(!reply || !reply->isEmpty()) << input.toStdString();
        EXPECT_LT(bridge.deviceAddress(), 64);
    }

    const QList<QByteArray> frameInputs = inputsIn("corpus/canframe") + inputsIn("crashes/canframe");
    ASSERT_GE(frameInputs.size(), 10) << "seed corpus missing";
    for (const QByteArray& input : frameInputs) {
        for (qsizetype at = 0; at + 12 <= input.size(); at += 12) {
            CanMessage m;
            m.id = (quint8(input[at]) | (quint8(input[at + 1]) << 8)) & 0x7FF;
            m.type = quint8(input[at + 2]);
            m.length = quint8(input[at + 3]);
            std::memcpy(m.data.data(), input.constData() + at + 4, 8);
            bridge.frameReceived(m);
            if (const std::optional<QByteArray> packet = CanReplyText::statusPacket(m, 2.0, 1)) {
                EXPECT_TRUE(StatusPacket::decode(packet->mid(1, 7)));
            }
        }
    }
    for (const QByteArray& line : lines)
        EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
    // The seeds cover what they were written for: value lines from the first and second process frames.
    EXPECT_TRUE(lines.contains("N-00002\r"));
    EXPECT_TRUE(lines.contains("A+00012\r"));
    EXPECT_TRUE(lines.contains("N+5\r"));
    TimeScale::setFactor(1.0);
}
