#include "measure/DosingMonitor.h"
#include "MeasureRig.h"
#include "measure/DataFiles.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvo;
using tarvo::test::MeasureRig;

namespace {

struct MonitorRig : MeasureRig {
    explicit MonitorRig(int identity = 4114) : MeasureRig(identity) {
        QObject::connect(dispatcher.get(), &StreamDispatcher::valueDisplayPacket, &monitor,
                         &DosingMonitor::valueDisplayPacket);
        QObject::connect(acq.get(), &Acquisition::averageReadDue, &monitor, &DosingMonitor::readAverage);
        QObject::connect(acq.get(), &Acquisition::dosedReadDue, &monitor, &DosingMonitor::readDosedValue);
    }
    // The stream as a RUN on a status device leaves it.
    void streamRunning(const QByteArray& start) {
        PacketMatcher& m = comm->streamMatcher();
        m.setStartString(start);
        m.setEndString("\r");
        m.setAutoEnable(true);
        m.setEnabled(true);
        m.arm();
        line.clearReceived();
    }
    DataFiles files{op, memory};
    DosingMonitor monitor{*comm, files};
};

} // namespace

TEST(DosingMonitorTest, DosedValueReadSeesItsReplyAndResumesTheStream) {
    MonitorRig rig;
    rig.streamRunning("P");
    rig.acq->dosedReadTimer().start(1); // what the dosing decoder and drawDosingCapture start
    MeasureRig::pump(150);
    const QList<QByteArray> sent = rig.line.receivedTexts();
    ASSERT_GE(sent.size(), 2);
    EXPECT_EQ(sent[0], "GD\r");
    EXPECT_EQ(sent[1], "GP-1\r");
    // The reply was framed under "D+" before the stream's start string came back.
    EXPECT_FALSE(rig.monitor.valueDisplayText().isEmpty());
    EXPECT_EQ(rig.monitor.dataLines().at(0), "1: " + rig.monitor.valueDisplayText());
    EXPECT_EQ(rig.monitor.rememberedStart(), "P");
    EXPECT_EQ(rig.comm->streamMatcher().startString(), "P");
    EXPECT_TRUE(rig.comm->streamMatcher().isActive());
    EXPECT_FALSE(rig.monitor.awaitingReply());
}

TEST(DosingMonitorTest, AverageReadWithoutAReplyRestoresTheStreamAfterItsLimit) {
    MonitorRig rig(4113);
    rig.streamRunning("G");
    rig.line.setFault(devsim::Line::Fault::Silent);
    rig.monitor.readAverage();
    EXPECT_EQ(rig.line.receivedTexts().value(0), "GA\r");
    // Waiting for the reply under "A+", not yet given up.
    EXPECT_EQ(rig.comm->streamMatcher().startString(), "A+");
    EXPECT_TRUE(rig.monitor.awaitingReply());
    MeasureRig::pump(DosingMonitor::kReplyLimitMs / 10 + 100);
    EXPECT_EQ(rig.comm->streamMatcher().startString(), "G");
    EXPECT_TRUE(rig.comm->streamMatcher().isActive());
    EXPECT_TRUE(rig.line.receivedTexts().contains("SG\r"));
    EXPECT_TRUE(rig.monitor.valueDisplayText().isEmpty());

    // With the device answering, the average arrives through the stream dispatcher.
    rig.line.setFault(devsim::Line::Fault::None);
    rig.line.clearReceived();
    rig.monitor.readAverage();
    MeasureRig::pump(100);
    EXPECT_FALSE(rig.monitor.valueDisplayText().isEmpty());
    EXPECT_EQ(rig.comm->streamMatcher().startString(), "G");
    EXPECT_TRUE(rig.line.receivedTexts().contains("SG\r"));
}

TEST(DosingMonitorTest, RingKeepsTheLastHundredNewestFirst) {
    MonitorRig rig;
    rig.muteDevice();
    QSignalSpy lists(&rig.monitor, &DosingMonitor::dataListChanged);
    EXPECT_EQ(rig.monitor.dataLines().at(0), "1: ");
    for (int v = 1; v <= 101; ++v)
        rig.feed("D+", QByteArray::number(v) + ".0");
    EXPECT_EQ(lists.size(), 101);
    const QStringList lines = rig.monitor.dataLines();
    ASSERT_EQ(lines.size(), 100);
    // "." deleted: 101.0 is shown as 1010.
    EXPECT_EQ(lines.front(), "1: 1010");
    EXPECT_EQ(lines.at(1), "2: 1000");
    EXPECT_EQ(lines.back(), "100: 20");
    EXPECT_EQ(rig.monitor.valueDisplayText(), "1010");
    // The hint: the 20 newest, without moving the ring.
    QString hint;
    for (int k = 1; k <= 20; ++k)
        hint += QString::number(k) + ":" + QString::number((102 - k) * 10) + " ";
    EXPECT_EQ(rig.monitor.valueDisplayHint(), hint);
    EXPECT_EQ(rig.monitor.valueDisplayHint(), hint);
    EXPECT_EQ(rig.monitor.writePosition(), 2);
}

TEST(DosingMonitorTest, SentinelsAreShownButNotKeptAndOddRepliesAreDropped) {
    MonitorRig rig;
    rig.muteDevice();
    QTemporaryDir dir;
    rig.files.setLogAverageData(0, true);
    rig.op.fileNames.push_back(dir.filePath("avg.csv"));
    rig.files.openTriggerLogs();
    QSignalSpy big(&rig.monitor, &DosingMonitor::bigDisplayText);

    rig.feed("D+", "123.4");
    rig.feed("D+", "+99999");
    EXPECT_EQ(rig.monitor.valueDisplayText(), "+99999");
    EXPECT_EQ(big.size(), 2);
    EXPECT_EQ(big.last().at(0).toString(), "+99999");
    EXPECT_EQ(rig.monitor.dataLines().mid(0, 2), (QStringList{"1: 1234", "2: "}));
    for (const char* s : {"88888", "99999", "+88888"})
        rig.feed("D+", s);
    EXPECT_EQ(rig.monitor.writePosition(), 2);

    // Not a number: the display is cleared, nothing else happens.
    rig.feed("D+", "12x");
    EXPECT_TRUE(rig.monitor.valueDisplayText().isEmpty());
    EXPECT_EQ(rig.monitor.writePosition(), 2);

    // On the serial link an "A+" packet whose text starts like the start string is not a reply.
    rig.feed("A+", "A+17");
    EXPECT_TRUE(rig.monitor.valueDisplayText().isEmpty());
    rig.feed("A+", "17");
    EXPECT_EQ(rig.monitor.valueDisplayText(), "17");

    rig.files.closeAverageLog();
    QFile log(dir.filePath("avg.csv"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    // The log holds each value as the device sent it: the display's "1234" was "+123.4".
    ASSERT_EQ(lines.size(), 4); // header, +123.4, +17, and the final line end
    EXPECT_EQ(lines[0], "AverageData,TimeStamp");
    EXPECT_TRUE(lines[1].startsWith("+123.4,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("+17,")) << lines[2].toStdString();
}

TEST(DosingMonitorTest, TheAverageLoopKeepsTheStreamStopped) {
    MonitorRig rig;
    rig.streamRunning("D+");
    bool running = true;
    rig.monitor.averageAcquisitionRunning = [&] { return running; };
    rig.dispatcher->dispatch("0042");
    EXPECT_EQ(rig.monitor.valueDisplayText(), "0042");
    EXPECT_TRUE(rig.line.receivedTexts().isEmpty());
    EXPECT_EQ(rig.comm->streamMatcher().startString(), "D+");

    // "Show Last Average" and the window's own hiding.
    QSignalSpy shown(&rig.monitor, &DosingMonitor::showLastAverageChanged);
    rig.monitor.setShowLastAverage(true);
    rig.monitor.dataWindowHidden();
    EXPECT_FALSE(rig.monitor.showLastAverage());
    EXPECT_EQ(shown.size(), 2);
}
