// The scope's Measure mode driven as an operator drives it: the mode chosen by its tool button (clicked,
// and pressed through assistive technology) and the mode list, a span dragged over a recording of the
// simulator's noise and step profiles, the arrow keys, Shift+drag for two cursors, Ctrl+C. The figures
// shown, put on the information line and copied are checked against ones computed here from the
// recording's samples.
#include "measure/RecordingMemory.h"
#include "measure/SpanMeasure.h"
#include "support/WindowRig.h"
#include "ui/MeasureTool.h"
#include "ui/ScopePanel.h"
#include "ui/ScopeWidget.h"

#include <QAccessibleActionInterface>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QRegularExpression>
#include <QToolButton>
#include <algorithm>
#include <cmath>

using namespace tarvo;
using namespace tarvo::test;

namespace {

struct Reference {
    qint64 count = 0;
    double mean = 0, sigma = 0, minimum = 0, maximum = 0;
};

// Two passes over samples first..last of the recording (indices from 0), the textbook way.
Reference reference(const GraphSlot& slot, qsizetype first, qsizetype last) {
    std::vector<double> v;
    for (qsizetype i = first; i <= last; ++i) {
        const SampleRecord& r = slot.records[i + 1];
        v.push_back(slot.grossField ? r.gross : r.net);
    }
    Reference ref;
    ref.count = qint64(v.size());
    long double sum = 0;
    for (double x : v)
        sum += x;
    ref.mean = double(sum / v.size());
    long double squares = 0;
    for (double x : v)
        squares += (x - ref.mean) * (x - ref.mean);
    ref.sigma = v.size() > 1 ? double(std::sqrt(squares / (v.size() - 1))) : 0.0;
    ref.minimum = *std::min_element(v.begin(), v.end());
    ref.maximum = *std::max_element(v.begin(), v.end());
    return ref;
}

double sampleValue(const GraphSlot& slot, qsizetype i) {
    const SampleRecord& r = slot.records[i + 1];
    return slot.grossField ? r.gross : r.net;
}

// "name: number ..." from the copied text.
double figure(const QString& text, const QString& name) {
    const QRegularExpression line("^" + QRegularExpression::escape(name) + ": (-?[0-9.]+)",
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = line.match(text);
    EXPECT_TRUE(m.hasMatch()) << name.toStdString() << " in " << text.toStdString();
    return m.captured(1).toDouble();
}

void expectFigures(const QString& text, const Reference& ref, int decimals) {
    const double fine = 0.5 * std::pow(10.0, -(decimals + 2)) + 1e-6;
    const double coarse = 0.5 * std::pow(10.0, -decimals) + 1e-6;
    EXPECT_EQ(qint64(figure(text, "samples N")), ref.count) << text.toStdString();
    EXPECT_NEAR(figure(text, "mean"), ref.mean, fine) << text.toStdString();
    EXPECT_NEAR(figure(text, "standard deviation"), ref.sigma, fine) << text.toStdString();
    EXPECT_NEAR(figure(text, "minimum"), ref.minimum, coarse);
    EXPECT_NEAR(figure(text, "maximum"), ref.maximum, coarse);
    EXPECT_NEAR(figure(text, "peak-to-peak"), ref.maximum - ref.minimum, 2 * coarse);
}

} // namespace

TEST(MeasureMode, SpanCursorsKeysAndClipboardOnRecordedNoiseAndStep) {
    for (const char* profile :
         {"profile=noise,amplitude=9,weight=12.5", "profile=step,load=40,period=2000"}) {
        SCOPED_TRACE(profile);
        WindowRig rig;
        devsim::DeviceConfig config;
        int lineNumber = 1;
        QString error;
        ASSERT_TRUE(devsim::DeviceConfig::fromText(QStringLiteral("update=5,decimals=2,") + profile, &config,
                                                   &lineNumber, &error))
            << error.toStdString();
        rig.lineOn(1, config);
        rig.start();
        MainController& c = *rig.controller;
        ui::ScopePanel* panel = rig.main().scopePanel();
        ui::ScopeWidget* scope = panel->scope();
        GraphModel& graph = c.graph();

        // A recording of a few hundred samples with RUN.
        rig.click(rig.named<QPushButton>(Page::Display, "RUN"));
        ASSERT_TRUE(waitFor([&] { return c.acquisition().sampleIndex() >= 400; }, 20000));
        rig.click(rig.named<QPushButton>(Page::Display, "STOP"));
        const GraphSlot& slot = c.recordings().slot(1);
        const qsizetype n = slot.count;
        ASSERT_GE(n, 400);
        ASSERT_EQ(qsizetype(graph.liveTrace().size()), n);
        // The whole recording across the scope.
        const double t0 = graph.liveTrace()[0].time, t1 = graph.liveTrace()[std::size_t(n - 1)].time;
        graph.viewTimeWindow(t0, t1);
        graph.repaint();

        // The mode from the tool bar through assistive technology; the list offers it too.
        QToolButton* tool = rig.named<QToolButton>(Page::Display, ScopeControls::kMeasureHint);
        ASSERT_NE(tool, nullptr);
        EXPECT_EQ(tool->text(), "Measure");
        EXPECT_TRUE(tool->toolTip().contains("Shift+drag"));
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(tool);
        ASSERT_TRUE(a && a->actionInterface());
        a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_EQ(graph.mouseMode(), GraphModel::MouseMode::Measure);
        QComboBox* modes = rig.named<QComboBox>(Page::Options, "Mouse mode");
        ASSERT_NE(modes, nullptr);
        EXPECT_EQ(modes->findText("mmMeasure"), int(GraphModel::MouseMode::Measure));

        // A drag over the middle half of the plot: the samples nearest its ends bound the span.
        const QRect plot = scope->plotRect(scope->size());
        const int y = plot.center().y();
        const QPoint from(plot.left() + plot.width() / 4, y), to(plot.left() + plot.width() * 3 / 4, y);
        const double window = graph.right() - graph.left();
        auto timeAt = [&](int x) {
            return graph.left() + double(x - plot.left()) / (plot.width() - 1) * window;
        };
        const double left = graph.left();
        QTest::mousePress(scope, Qt::LeftButton, {}, from);
        for (int i = 1; i <= 4; ++i)
            QTest::mouseMove(scope, from + (to - from) * i / 4);
        QTest::mouseRelease(scope, Qt::LeftButton, {}, to);
        EXPECT_EQ(graph.left(), left) << "the drag measured, it did not zoom";
        const SpanMeasure& measure = *panel->measure();
        ASSERT_TRUE(measure.span().has_value());
        const qsizetype first = measure.span()->first, last = measure.span()->last;
        const double step = (t1 - t0) / double(n - 1);
        EXPECT_NEAR(measure.span()->startMs, timeAt(from.x()), 3 * step);
        EXPECT_NEAR(measure.span()->endMs, timeAt(to.x()), 3 * step);
        ASSERT_GT(last - first, 50);
        // The stream's values are whole counts: the figures carry no digits after the point beyond the
        // two more that mean and deviation get.
        bool whole = true;
        for (qsizetype i = 0; i < n; ++i)
            whole = whole && sampleValue(slot, i) == std::round(sampleValue(slot, i));
        ASSERT_TRUE(whole);
        const int d = measure.decimals();
        EXPECT_EQ(d, 0);

        // Shown in the panel and on the information line, copied with Ctrl+C.
        QApplication::clipboard()->clear();
        QTest::keyClick(scope, Qt::Key_C, Qt::ControlModifier);
        QString copied = QApplication::clipboard()->text();
        expectFigures(copied, reference(slot, first, last), d);
        EXPECT_NEAR(figure(copied, "duration"),
                    graph.liveTrace()[std::size_t(last)].time - graph.liveTrace()[std::size_t(first)].time,
                    0.051);
        EXPECT_TRUE(panel->measureTool()->panel()->isVisible());
        EXPECT_EQ(panel->measureTool()->panel()->text(), copied.trimmed());
        {
            // Black figures on a nearly opaque white ground, whatever the trace beneath.
            QLabel* figures = panel->measureTool()->panel();
            const QImage seen = scope->grab(figures->geometry()).toImage();
            const QColor ground = seen.pixelColor(1, 1);
            EXPECT_GE(std::min({ground.red(), ground.green(), ground.blue()}), 200)
                << ground.name().toStdString();
            bool dark = false;
            for (int row = 0; row < seen.height() && !dark; ++row)
                for (int col = 0; col < seen.width() && !dark; ++col)
                    dark = qGray(seen.pixel(col, row)) < 60;
            EXPECT_TRUE(dark);
        }
        const QString info = rig.named<QLabel>(Page::Display, "Display information")->text();
        EXPECT_TRUE(info.startsWith(QStringLiteral("Graph 1: N %1, mean ").arg(last - first + 1)))
            << info.toStdString();

        // Right moves the span a sample later; Shift+Right widens it, Shift+Left narrows it again.
        QTest::keyClick(scope, Qt::Key_Right);
        QTest::keyClick(scope, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(scope, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(scope, Qt::Key_Left, Qt::ShiftModifier);
        ASSERT_TRUE(measure.span().has_value());
        EXPECT_EQ(measure.span()->first, first + 1);
        EXPECT_EQ(measure.span()->last, last + 2);
        QTest::keyClick(scope, Qt::Key_C, Qt::ControlModifier);
        copied = QApplication::clipboard()->text();
        expectFigures(copied, reference(slot, first + 1, last + 2), d);

        // Shift+drag: two cursors, their difference and the slope per second.
        QTest::mousePress(scope, Qt::LeftButton, Qt::ShiftModifier, from);
        QTest::mouseMove(scope, to);
        QTest::mouseRelease(scope, Qt::LeftButton, Qt::ShiftModifier, to);
        ASSERT_TRUE(measure.difference().has_value());
        QTest::keyClick(scope, Qt::Key_Left); // the cursors, made last, move
        const qsizetype p = measure.difference()->first, q = measure.difference()->second;
        EXPECT_EQ(p, first - 1);
        const double dt = graph.liveTrace()[std::size_t(q)].time - graph.liveTrace()[std::size_t(p)].time;
        const double dw = sampleValue(slot, q) - sampleValue(slot, p);
        QTest::keyClick(scope, Qt::Key_C, Qt::ControlModifier);
        copied = QApplication::clipboard()->text();
        EXPECT_NEAR(figure(copied, QStringLiteral("\u0394t")), dt, 0.051);
        EXPECT_NEAR(figure(copied, QStringLiteral("\u0394weight")), dw, 0.5 * std::pow(10.0, -d) + 1e-6);
        EXPECT_NEAR(figure(copied, "slope"), dw / dt * 1000,
                    0.51 * std::pow(10.0, -(d + 2)) + std::fabs(dw / dt * 1000) * 1e-5);
        // The span's figures stay beside them.
        expectFigures(copied, reference(slot, first + 1, last + 2), d);

        // Another mode hides the panel; clearing the graphs leaves a selection with nothing under it,
        // which the keys then drop.
        rig.click(rig.named<QToolButton>(Page::Display, "Pan graph / move graph"));
        EXPECT_FALSE(panel->measureTool()->panel()->isVisible());
        rig.click(rig.named<QPushButton>(Page::Display, ScopeControls::kClearAllCaption));
        modes->setCurrentIndex(int(GraphModel::MouseMode::Measure));
        emit modes->activated(int(GraphModel::MouseMode::Measure));
        EXPECT_EQ(graph.mouseMode(), GraphModel::MouseMode::Measure);
        QTest::keyClick(scope, Qt::Key_Right);
        EXPECT_FALSE(measure.span().has_value());
        EXPECT_FALSE(measure.difference().has_value());
    }
}
