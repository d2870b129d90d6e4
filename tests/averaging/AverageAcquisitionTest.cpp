// Check-weigher averaging against a simulated transmitter: the checks before a start, what reaches the
// device, which averages are taken, and the log file as it is written.
#include "averaging/AverageAcquisition.h"
#include "support/ControllerRig.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QLocale>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTime>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

devsim::DeviceConfig checkWeigher(int identity, int decimals = 1) {
    devsim::DeviceConfig config;
    config.identity = identity;
    config.decimals = decimals;
    config.resetMs = 100;
    return config;
}

QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

int count(const QList<QByteArray>& heard, const QByteArray& prefix) {
    return int(
        std::count_if(heard.begin(), heard.end(), [&](const QByteArray& l) { return l.startsWith(prefix); }));
}

} // namespace

TEST(Averaging, The41xxStartChecksTheFieldsAndThePresentZeroBeforeItWritesAnything) {
    devsim::DeviceConfig config = checkWeigher(4113);
    config.weight = 12.5;
    ControllerRig rig(config);
    ASSERT_TRUE(rig.find());
    AverageAcquisition& averaging = rig.controller->averaging();

    // The fields are read from the device first; one out of the page's range stops the start.
    rig.device->setParameter("MT", 3001);
    averaging.mxr41AverageClicked();
    EXPECT_EQ(rig.op.lastInfoLine(Page::Mxr41), "Measure Time value out of range 0...3000ms");
    QList<QByteArray> heard = rig.heard();
    EXPECT_EQ(heard.last(), "TE\r");
    EXPECT_FALSE(heard.contains("GN\r"));

    // 12.5 is 125 counts: above a trigger level of 100 counts, and the start is refused quoting the reply.
    rig.device->setParameter("MT", 100);
    rig.device->setParameter("TL", 100);
    averaging.mxr41AverageClicked();
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{"TriggerLevel must be greater than zero value (+0012.5)"});
    heard = rig.heard();
    EXPECT_EQ(heard.last(), "GN\r");
    EXPECT_EQ(count(heard, "SD "), 0);
    EXPECT_EQ(averaging.caption(FamilyPage::Mxr41), "Start Get Average");

    // Below a trigger level of 1000 it passes: the parameters are written and stored, then "SA".
    rig.op.clear();
    rig.device->setParameter("TL", 1000);
    averaging.mxr41AverageClicked();
    heard = rig.heard();
    ASSERT_TRUE(heard.contains("GN\r"));
    const QList<QByteArray> tail = heard.mid(heard.indexOf("HT 00500\r"));
    EXPECT_EQ(tail, (QList<QByteArray>{"HT 00500\r", "TE0\r", "WP\r", "SS\r", "SA\r"}));
    EXPECT_TRUE(heard.contains("TL +01000\r"));
    EXPECT_TRUE(rig.op.messageBoxes().isEmpty());
    EXPECT_EQ(averaging.caption(FamilyPage::Mxr41), "Stop Get Average");
    EXPECT_EQ(rig.controller->link().streamMatcher().startString(), "A+");

    // Stop ends the device's averages.
    averaging.mxr41AverageClicked();
    EXPECT_EQ(rig.heard().last(), "GG\r");
    EXPECT_EQ(averaging.caption(FamilyPage::Mxr41), "Start Get Average");

    // 150.0 is 1500 counts: above 1000.
    rig.device->setWeight(150.0);
    averaging.mxr41AverageClicked();
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{"TriggerLevel must be greater than zero value (+0150.0)"});

    // No answer to the zero read.
    rig.device->setRefused({"GN"});
    averaging.mxr41AverageClicked();
    EXPECT_EQ(rig.op.lastInfoLine(Page::Mxr41), "Check-Weigher - Communikation error!");
    EXPECT_EQ(count(rig.heard(), "SD "), 0);
    EXPECT_TRUE(rig.controller->pageControlEnabled());
}

TEST(Averaging, The41xxAveragesReachTheLogLineByLineTheDisplayAndTheRingUntilStop) {
    devsim::DeviceConfig config = checkWeigher(4113);
    config.profile.kind = devsim::WeightProfile::Kind::CheckWeigher;
    config.profile.load = 100.0;
    ControllerRig rig(config);
    rig.device->setParameter("TL", 99999);
    ASSERT_TRUE(rig.find());
    MainController& c = *rig.controller;
    c.dataFiles().setSeparatorChoice(DataFiles::Separator::Semicolon);
    c.dataFiles().setLogAverageData(0, true);
    const QString log = rig.path("averages.csv");
    rig.op.fileNames = {log};

    c.averaging().mxr41AverageClicked();
    ASSERT_TRUE(c.averaging().mxr41Running());
    // Each weighed item's average comes once, as it is known; every line is on disk as soon as it came.
    ASSERT_TRUE(rig.waitUntil([&] { return fileLines(log).size() >= 4; }))
        << rig.op.events.join('\n').toStdString() << "\nfile: " << fileLines(log).join('|').toStdString()
        << "\nheard: " << QString::fromLatin1(rig.heard().join(' ')).toStdString()
        << "\nsent: " << rig.line.sentToHost().right(300).toStdString() << "\nmatcher "
        << c.link().streamMatcher().startString().toStdString() << c.link().streamMatcher().isArmed()
        << c.link().streamMatcher().isEnabled() << " display "
        << c.dosingMonitor().valueDisplayText().toStdString() << " open " << c.dataFiles().averageLogOpen();
    const QStringList lines = fileLines(log);
    EXPECT_EQ(lines.first(), "AverageData;TimeStamp");
    // The log keeps each average as the device sent it, sign and decimal point included, though the
    // stream matcher took the "A+" in front of it; the display drops the decimal point.
    static const QRegularExpression dataLine(QStringLiteral("^(\\+\\d{4}\\.\\d);\\S.*$"));
    for (const QString& line : lines.mid(1)) {
        const QRegularExpressionMatch m = dataLine.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        EXPECT_NEAR(m.captured(1).toDouble(), 100.0, 3.1) << line.toStdString(); // a package of about 100.0
    }
    const DosingMonitor& monitor = c.dosingMonitor();
    EXPECT_EQ(monitor.dataLines().first(), "1: " + monitor.valueDisplayText());
    EXPECT_FALSE(monitor.valueDisplayText().contains('.'));
    EXPECT_FALSE(monitor.valueDisplayText().isEmpty());

    c.averaging().mxr41AverageClicked();
    EXPECT_FALSE(c.averaging().mxr41Running());
    EXPECT_FALSE(c.dataFiles().averageLogOpen());
    const int kept = int(fileLines(log).size());
    QTest::qWait(int(2 * 1500 * TimeScale::factor()));
    EXPECT_EQ(fileLines(log).size(), kept);
    EXPECT_TRUE(rig.heard().contains("GG\r"));

    // "SA" refused: the run does not start and its log is not left open.
    rig.device->setRefused({"SA"});
    rig.op.fileNames = {log};
    c.averaging().mxr41AverageClicked();
    EXPECT_TRUE(rig.op.infoMessages().contains("Fail to execute \"Send Average\" command"));
    EXPECT_EQ(c.averaging().caption(FamilyPage::Mxr41), "Start Get Average");
    EXPECT_FALSE(c.dataFiles().averageLogOpen());
    EXPECT_EQ(fileLines(log), QStringList{"AverageData;TimeStamp"});

    // A folder named as the log: the averages come without one, and the operator is told why.
    rig.device->setRefused({});
    c.dataFiles().setLogAverageData(0, true);
    const QString folder = rig.path("folder.csv");
    ASSERT_TRUE(QDir().mkpath(folder));
    rig.op.clear();
    rig.op.fileNames = {folder};
    c.averaging().mxr41AverageClicked();
    EXPECT_EQ(rig.op.messageBoxes(), (QStringList{"File can be in use by another program",
                                                  " Can not write file!\n" + folder + ": Is a directory"}));
    EXPECT_FALSE(c.dataFiles().logAverageData(0));
    EXPECT_TRUE(c.averaging().mxr41Running());
    c.averaging().mxr41AverageClicked();
    EXPECT_FALSE(c.averaging().mxr41Running());
}

TEST(Averaging, The43xxPollTakesEachAverageOnceOnTheChangeFromNotReady) {
    devsim::DeviceConfig config = checkWeigher(4313, 2);
    // Streaming from power-on, as a transmitter with autotransmit on: no answer is a weight line.
    config.autotransmit = "SN";
    config.updateMs = 20;
    ControllerRig rig(config);
    ASSERT_TRUE(rig.find());
    MainController& c = *rig.controller;
    c.familyPageShown(FamilyPage::Tcw43); // the page the operator works on; it stops the stream
    AverageAcquisition& averaging = c.averaging();
    ParameterFields& fields = c.checkWeigher().tcw43();
    c.checkWeigher().readTcw43Clicked();
    const int measureTime = fields.indexOf("MeasureTime");
    ASSERT_EQ(fields.text(measureTime), "00100");

    fields.setText(measureTime, "501");
    rig.heard();
    averaging.tcw43AverageClicked();
    EXPECT_EQ(rig.op.lastInfoLine(Page::Tcw43), "Measure Time value out of range 0...500ms");
    EXPECT_TRUE(rig.heard().isEmpty());
    fields.setText(measureTime, "00100");

    // The 43xx log always has a semicolon in its header; its lines take the file separator.
    c.dataFiles().setLogAverageData(1, true);
    const QString log = rig.path("tcw.csv");
    rig.op.fileNames = {log};
    rig.device->queueAverageReplies({"+99999", "+99999", "+012.34", "+012.34", "+99999", "+013.00"});
    averaging.tcw43AverageClicked();
    ASSERT_TRUE(averaging.tcw43Running())
        << rig.op.events.join('\n').toStdString()
        << "\nheard: " << QString::fromLatin1(rig.heard().join(' ')).toStdString();
    QList<QByteArray> heard = rig.heard();
    EXPECT_EQ(heard.first(), "GN\r");
    EXPECT_TRUE(heard.contains("TL 30\r"));
    EXPECT_EQ(fields.text(fields.indexOf("TriggerLevel")), "30");
    EXPECT_FALSE(fields.enabled());
    EXPECT_EQ(averaging.pollTimer().interval(), TimeScale::ms(20 + 100 + 20));
    // Polls go on after the six replies; the device's own answers change nothing then.
    ASSERT_TRUE(rig.waitUntil([&] { return rig.line.receivedTexts().count("GA\r") >= 10; }));
    const QStringList ring = c.dosingMonitor().dataLines();
    EXPECT_EQ(ring.mid(0, 3), (QStringList{"1: +013.00", "2: +012.34", "3: "}));
    EXPECT_EQ(averaging.lastAverage(), "+013.00");
    const QStringList lines = fileLines(log);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "AverageData;TimeStamp");
    EXPECT_TRUE(lines[1].startsWith("+012.34,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("+013.00,")) << lines[2].toStdString();

    averaging.tcw43AverageClicked();
    EXPECT_FALSE(averaging.tcw43Running());
    EXPECT_FALSE(averaging.pollTimer().isActive());
    EXPECT_TRUE(fields.enabled());
    EXPECT_FALSE(c.dataFiles().averageLogOpen());
    EXPECT_EQ(c.link().streamMatcher().startString(), "G");

    // "+88888" after "+99999" is no average, and the real value after it is not taken either.
    c.dataFiles().setLogAverageData(1, false);
    rig.device->queueAverageReplies({"+99999", "+88888", "+005.00", "+99999", "+006.00"});
    rig.heard();
    averaging.tcw43AverageClicked();
    ASSERT_TRUE(averaging.tcw43Running());
    ASSERT_TRUE(rig.waitUntil([&] { return rig.line.receivedTexts().count("GA\r") >= 10; }));
    EXPECT_EQ(c.dosingMonitor().dataLines().mid(0, 3),
              (QStringList{"1: +006.00", "2: +013.00", "3: +012.34"}));

    // A poll without answer stops the averaging.
    rig.line.setFault(devsim::Line::Fault::Silent);
    ASSERT_TRUE(rig.waitUntil([&] { return !averaging.tcw43Running(); }));
    EXPECT_EQ(rig.op.lastInfoLine(Page::Tcw43), "Check-Weigher - Communikation error!");
    EXPECT_EQ(averaging.caption(FamilyPage::Tcw43), "Start Get Average");
    EXPECT_TRUE(averaging.previousPollValue().isEmpty());
    EXPECT_TRUE(fields.enabled());
}

TEST(Averaging, RawRecordingSetsTheDeviceUpAndLogsEachStreamValue) {
    devsim::DeviceConfig config = checkWeigher(4113);
    config.weight = 12.5;
    config.fullDuplex = false;
    ControllerRig rig(config);
    ASSERT_TRUE(rig.find());
    MainController& c = *rig.controller;
    c.displayPageShown();
    c.familyPageShown(FamilyPage::Mxr41);
    rig.heard();
    const QString log = rig.path("raw.csv");
    rig.op.answers = {true};
    rig.op.fileNames = {log};

    c.averaging().startRecordingRawClicked();
    EXPECT_TRUE(rig.op.events.contains(QStringLiteral("ask: ") + AverageAcquisition::kFullDuplexQuestion +
                                       " -> yes"));
    EXPECT_EQ(rig.heard().mid(0, 5), (QList<QByteArray>{"TG1\r", "DX\r", "DX1\r", "WP\r", "SN\r"}));
    ASSERT_TRUE(rig.waitUntil([&] { return fileLines(log).size() >= 4; }));
    const QStringList lines = fileLines(log);
    EXPECT_EQ(lines.first(), "Raw AverageData,TimeStamp");
    for (const QString& line : lines.mid(1))
        EXPECT_TRUE(line.startsWith("+00125,")) << line.toStdString();
    EXPECT_EQ(c.averaging().checkWeigherDisplay(), "+0012.5");

    c.averaging().stopRecordingRawClicked();
    EXPECT_FALSE(c.averaging().rawRecording());
    EXPECT_FALSE(c.dataFiles().averageLogOpen());
    const int kept = int(fileLines(log).size());
    QTest::qWait(int(500 * TimeScale::factor()));
    EXPECT_EQ(fileLines(log).size(), kept);

    // "TG1" refused: said in a box and on the page; "Stop recording" is chosen again.
    rig.op.clear();
    rig.device->setRefused({"TG"});
    c.averaging().startRecordingRawClicked();
    EXPECT_EQ(rig.op.messageBoxes(), QStringList{"Communication Error"});
    EXPECT_EQ(rig.op.lastInfoLine(Page::Mxr41), "Communication Error");
    EXPECT_FALSE(c.averaging().rawRecording());
}

TEST(Averaging, UnderACommaDecimalLocaleTheLogReadsBackToTheAveragesSent) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
    devsim::DeviceConfig config = checkWeigher(4113);
    config.profile.kind = devsim::WeightProfile::Kind::CheckWeigher;
    config.profile.load = 100.0;
    ControllerRig rig(config);
    rig.device->setParameter("TL", 99999);
    ASSERT_TRUE(rig.find());
    MainController& c = *rig.controller;
    c.dataFiles().setSeparatorChoice(DataFiles::Separator::Comma);
    c.dataFiles().setLogAverageData(0, true);
    const QString log = rig.path("averages.csv");
    rig.op.fileNames = {log};
    c.averaging().mxr41AverageClicked();
    ASSERT_TRUE(rig.waitUntil([&] { return fileLines(log).size() >= 3; }));
    c.averaging().mxr41AverageClicked();

    // Each line is the device's own text, which writes a decimal point whatever the locale, and the time.
    const QStringList lines = fileLines(log);
    EXPECT_EQ(lines.first(), "AverageData,TimeStamp");
    for (const QString& line : lines.mid(1)) {
        const QStringList fields = line.split(',');
        ASSERT_EQ(fields.size(), 2) << line.toStdString();
        bool ok = false;
        EXPECT_NEAR(fields[0].toDouble(&ok), 100.0, 3.1) << line.toStdString();
        EXPECT_TRUE(ok) << line.toStdString();
        EXPECT_TRUE(QTime::fromString(fields[1].section(' ', 0, 0), "HH:mm:ss").isValid())
            << line.toStdString();
    }
}
