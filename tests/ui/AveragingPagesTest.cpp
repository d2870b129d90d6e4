// The averaging controls of the MXR 41xx and TCW 43xx pages driven as a person drives them, against a
// simulated check-weigher: what reaches the device, what the page, the "Data" window, the big display
// and the log file then show.
#include "support/QtPrinters.h"
#include "support/WindowRig.h"
#include "ui/widgets/ValueLabel.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

QStringList fileLines(const QString& path) {
    QStringList lines = QString::fromLocal8Bit(contents(path)).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

TEST(AveragingPages, The43xxPageRefusesAFieldOutOfRangeThenPollsShowsLogsAndStops) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.identity = 4313;
    config.decimals = 2;
    // Streaming from power-on, as a transmitter with autotransmit on: no answer is a weight line.
    config.autotransmit = "SN";
    config.updateMs = 20;
    devsim::Line& line = rig.lineOn(1, config);
    rig.startAndFind();
    rig.showFamilyPage(Page::Tcw43);
    auto* group = rig.named<QGroupBox>(Page::Tcw43, "Check-Weigher");
    rig.click(rig.named<QPushButton>(Page::Tcw43, "Read Check-Weigher Cmd."));
    auto* measureTime = rig.named<QLineEdit>(Page::Tcw43, "MeasureTime");
    ASSERT_TRUE(waitFor([&] { return measureTime->text() == "00100" && measureTime->isEnabled(); }));
    QPushButton* average = rig.named<QPushButton>(Page::Tcw43, "Start Get Average");
    ASSERT_NE(average, nullptr);
    auto* information = rig.named<QLabel>(Page::Tcw43, "TCW 43xx information");

    typeInto(measureTime, "501");
    line.clearReceived();
    rig.click(average);
    ASSERT_TRUE(waitFor([&] { return !accessibleName(information).isEmpty(); }));
    EXPECT_EQ(accessibleName(information), "Measure Time value out of range 0...500ms");
    EXPECT_TRUE(line.receivedTexts().isEmpty());

    typeInto(measureTime, "100");
    rig.click(rig.named<QCheckBox>(Page::Tcw43, "Log Average Data"));
    const QString log = rig.dir.filePath("tcw.csv");
    rig.op.saveNames = {log};
    line.devices().first()->queueAverageReplies(
        {"+99999", "+99999", "+012.34", "+012.34", "+99999", "+013.00"});
    rig.click(average);
    auto* result = rig.named<ui::ValueLabel>(Page::Tcw43, "Result display");
    ASSERT_TRUE(waitFor([&] { return accessibleName(result) == "+013.00"; }));
    EXPECT_EQ(accessibleName(average), "Stop Get Average");
    EXPECT_FALSE(measureTime->isEnabled());
    EXPECT_EQ(rig.named<QLineEdit>(Page::Tcw43, "TriggerLevel")->text(), "30");
    EXPECT_TRUE(line.receivedTexts().contains("TL 30\r"));
    EXPECT_TRUE(group->isEnabled());

    // "Show Last Average" shows the list, newest first; a click on the result shows it big.
    rig.click(rig.named<QCheckBox>(Page::Tcw43, "Show Last Average"));
    QListWidget* list = rig.windows->dataWindow().list();
    ASSERT_TRUE(waitFor([&] { return rig.windows->dataWindow().isVisible(); }));
    EXPECT_EQ(list->item(0)->text(), "1: +013.00");
    EXPECT_EQ(list->item(1)->text(), "2: +012.34");
    EXPECT_EQ(list->item(2)->text(), "3: ");
    QTest::mouseClick(result, Qt::LeftButton);
    EXPECT_EQ(rig.windows->bigDisplay().text(), "+013.00");

    rig.click(average);
    ASSERT_TRUE(waitFor([&] { return accessibleName(average) == "Start Get Average"; }));
    EXPECT_TRUE(measureTime->isEnabled());
    const QStringList lines = fileLines(log);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "AverageData;TimeStamp");
    EXPECT_TRUE(lines[1].startsWith("+012.34,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("+013.00,")) << lines[2].toStdString();
}

TEST(AveragingPages, The41xxPageTakesTheDevicesAveragesAndRecordsRawValues) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.identity = 4113;
    config.profile.kind = devsim::WeightProfile::Kind::CheckWeigher;
    config.profile.load = 100.0;
    devsim::Line& line = rig.lineOn(1, config);
    line.devices().first()->setParameter("TL", 99999);
    rig.startAndFind();
    rig.showFamilyPage(Page::Mxr41);
    EXPECT_TRUE(rig.named<QGroupBox>(Page::Mxr41, "Average")->isVisible());
    QPushButton* average = rig.named<QPushButton>(Page::Mxr41, "Start Get Average");
    auto* display = rig.named<ui::ValueLabel>(Page::Mxr41, "Check-Weigher display");
    ASSERT_NE(display, nullptr);

    line.clearReceived();
    rig.click(average);
    ASSERT_TRUE(waitFor([&] { return accessibleName(average) == "Stop Get Average"; }));
    EXPECT_TRUE(line.receivedTexts().contains("SA\r"));
    // Each average the device sends reaches the check-weigher display.
    // The matcher takes the "A+" in front, the display drops the decimal point: a package of about 100.0.
    static const QRegularExpression counts(QStringLiteral("^\\d{5}$"));
    ASSERT_TRUE(waitFor([&] { return counts.match(accessibleName(display)).hasMatch(); }));
    EXPECT_NEAR(accessibleName(display).toInt(), 1000, 31) << accessibleName(display).toStdString();
    EXPECT_EQ(accessibleName(display), rig.controller->dosingMonitor().valueDisplayText());
    rig.click(average);
    ASSERT_TRUE(waitFor([&] { return accessibleName(average) == "Start Get Average"; }));
    EXPECT_EQ(line.receivedTexts().last(), "GG\r");

    // "Record raw Average-data": each value line of the stream into the log, until "Stop recording".
    const QString log = rig.dir.filePath("raw.csv");
    rig.op.saveNames = {log};
    auto* start = rig.named<QRadioButton>(Page::Mxr41, "Start recording");
    auto* stop = rig.named<QRadioButton>(Page::Mxr41, "Stop recording");
    EXPECT_TRUE(stop->isChecked());
    rig.click(start);
    ASSERT_TRUE(waitFor([&] { return fileLines(log).size() >= 4; }));
    EXPECT_TRUE(start->isChecked());
    EXPECT_EQ(fileLines(log).first(), "Raw AverageData,TimeStamp");
    EXPECT_TRUE(fileLines(log).at(1).contains(','));
    rig.click(stop);
    ASSERT_TRUE(waitFor([&] { return !rig.controller->dataFiles().averageLogOpen(); }));
    EXPECT_TRUE(stop->isChecked());
    const qsizetype kept = fileLines(log).size();
    QTest::qWait(100);
    EXPECT_EQ(fileLines(log).size(), kept);

    // Leaving the page chooses "Stop recording" and resets the caption.
    rig.op.saveNames = {log};
    rig.click(start);
    ASSERT_TRUE(waitFor([&] { return rig.controller->dataFiles().averageLogOpen(); }));
    rig.showPage(Page::Options);
    ASSERT_TRUE(waitFor([&] { return !rig.controller->dataFiles().averageLogOpen(); }));
    EXPECT_TRUE(stop->isChecked());
}
