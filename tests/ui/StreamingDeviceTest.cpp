// The window against a transmitter that streams from power-on, as a real one with autotransmit on does:
// what RUN records, what the readout shows on other pages, and what Find Device brings back after an
// unplugged adapter.
#include "support/WindowRig.h"

#include "engine/Device.h"
#include "ui/BigDisplayWindow.h"
#include "ui/RunPanel.h"

#include <QComboBox>
#include <QToolButton>

using namespace tarvo;
using namespace tarvo::test;

namespace {

struct CsvRow {
    double value = 0;
    double time = 0;
};

// The rows of a graph data file, after its name and header lines.
QList<CsvRow> rowsOf(const QString& path, bool* wellFormed) {
    QList<CsvRow> rows;
    *wellFormed = true;
    const QList<QByteArray> lines = contents(path).split('\n');
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(',');
        bool valueOk = false, timeOk = false;
        if (fields.size() == 2)
            rows.append({fields[0].toDouble(&valueOk), fields[1].toDouble(&timeOk)});
        *wellFormed = *wellFormed && valueOk && timeOk;
    }
    return rows;
}

} // namespace

TEST(StreamingDevice, RunRecordsOnlyWhatTheDeviceMeasuredAfterItArmedInOneUnitFromTimeZero) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.identity = 4114; // RUN records its status packets; its value lines are counts
    config.weight = 123.4;
    config.autotransmit = "SN";
    config.updateMs = 5;
    rig.lineOn(1, config);
    rig.start();
    auto* run = rig.named<QPushButton>(Page::Display, "RUN");
    auto* stop = rig.named<QPushButton>(Page::Display, "STOP");
    Acquisition& acquisition = rig.controller->acquisition();
    // Two recordings into the same slot: the second must not carry the first one's clock.
    for (int pass = 0; pass < 2; ++pass) {
        rig.click(run);
        ASSERT_TRUE(waitFor([&] { return acquisition.sampleIndex() >= 150 && acquisition.runClock() > 0; }));
        rig.click(stop);
        ASSERT_TRUE(waitFor([&] { return !rig.controller->link().isBusy(); }));
    }
    const QString path = rig.dir.filePath("run.csv");
    rig.op.saveNames = {path};
    rig.click(rig.named<QToolButton>(Page::Display, "Save graph as *.csv file"));
    bool wellFormed = false;
    const QList<CsvRow> rows = rowsOf(path, &wellFormed);
    EXPECT_TRUE(wellFormed);
    ASSERT_EQ(rows.size(), rig.controller->recordings().slot(1).count);
    ASSERT_GE(rows.size(), 150);
    // Time zero; or, where a busy machine took no packet before the first step-time tick, that tick's
    // step time: its second divided by the count of one that RUN starts with. Never the last run's clock.
    EXPECT_TRUE(rows.first().time == 0 || rows.first().time == 1000) << rows.first().time;
    int backwards = 0, counts = 0;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (i > 0 && rows[i].time < rows[i - 1].time)
            ++backwards;
        // Net in display units, about the filling target at most (a fill overshoots a little); a value
        // line's 1234 counts is not one.
        if (rows[i].value > 130 || rows[i].value < -1)
            ++counts;
    }
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(counts, 0);
    EXPECT_EQ(rig.op.boxes, QStringList{});
}

TEST(StreamingDevice, OffTheDisplayPageTheReadoutFollowsTheDeviceOrSaysItCannot) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.weight = 12.5;
    config.autotransmit = "SN";
    devsim::Line& line = rig.lineOn(1, config);
    rig.start();
    ui::BigDisplayWindow& big = rig.windows->bigDisplay();
    auto* readout = rig.named<QLabel>(Page::Display, "Readout");
    ASSERT_NE(readout, nullptr);
    ASSERT_TRUE(waitFor([&] { return readout->text() == "N +0012.5"; }));

    // Net chosen: leaving the page starts the gross stream, which the net readout cannot show.
    rig.showPage(Page::Options);
    rig.click(rig.named<QCheckBox>(Page::Options, "Show big display"));
    ASSERT_TRUE(big.isVisible());
    line.device(0)->setWeight(20.0);
    QTest::qWait(300);
    EXPECT_EQ(big.text(), LiveReadout::kNoInput);
    EXPECT_EQ(readout->text(), LiveReadout::kNoInput);

    // Gross chosen: the readout goes on following the device off the page.
    rig.showPage(Page::Display);
    auto* choice = rig.named<QComboBox>(Page::Display, "Autotransmit");
    ASSERT_NE(choice, nullptr);
    choice->setFocus();
    QTest::keyClick(choice, Qt::Key_Up);
    ASSERT_TRUE(waitFor([&] { return readout->text() == "G +0020.0"; }));
    rig.showPage(Page::Options);
    line.device(0)->setWeight(31.5);
    EXPECT_TRUE(waitFor([&] { return big.text() == "G +0031.5"; }, 3000)) << big.text().toStdString();
}

TEST(StreamingDevice, FindDeviceAfterAnUnplugBringsTheReadoutAndTheLampBack) {
    WindowRig rig;
    devsim::DeviceConfig config;
    config.identity = 4113;
    config.weight = 7.5;
    config.autotransmit = "SN";
    devsim::Line& line = rig.lineOn(1, config);
    rig.start();
    auto* readout = rig.named<QLabel>(Page::Display, "Readout");
    rig.click(rig.named<QPushButton>(Page::Display, "RUN"));
    ASSERT_TRUE(waitFor([&] { return rig.controller->acquisition().sampleIndex() > 5; }));

    devsim::SimulatedPorts::unplug(1);
    ASSERT_TRUE(waitFor([&] { return readout->text() == LiveReadout::kNoInput; }));
    EXPECT_EQ(rig.controller->acquisition().lamp(), Acquisition::Lamp::RedBlink);

    devsim::SimulatedPorts::attach(1, &line);
    rig.click(rig.named<QPushButton>(Page::Display, "Find Device"));
    ASSERT_TRUE(rig.searched());
    EXPECT_EQ(rig.controller->acquisition().lamp(), Acquisition::Lamp::Green);
    EXPECT_TRUE(waitFor([&] { return readout->text() == "N +0007.5"; }, 3000))
        << readout->text().toStdString();
    line.device(0)->setWeight(8.0);
    EXPECT_TRUE(waitFor([&] { return readout->text() == "N +0008.0"; }, 3000))
        << readout->text().toStdString();
}
