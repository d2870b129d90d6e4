#include "ui/ScopeWidget.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "link/CommandLink.h"
#include "measure/DataFiles.h"
#include "measure/DosingMonitor.h"
#include "measure/GraphModel.h"
#include "measure/RecordingMemory.h"
#include "support/FakeOperator.h"
#include "ui/DataWindow.h"
#include "ui/GraphPrinting.h"
#include "ui/PictureOutput.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QListWidget>
#include <QPrinter>
#include <QProcess>
#include <QRubberBand>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <climits>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <sys/stat.h>

using namespace tarvo;
using namespace tarvo::ui;

namespace {

// Whether any pixel of the column inside the plot has the colour.
bool columnHas(const ScopeWidget& scope, const QImage& image, int x, Rgb colour) {
    const QRect plot = scope.plotRect(image.size());
    for (int y = plot.top(); y <= plot.bottom(); ++y)
        if ((image.pixel(x, y) & 0xffffff) == colour)
            return true;
    return false;
}

// The rows of the column that have the colour, as first..last.
std::pair<int, int> rowsWith(const QImage& image, int x, Rgb colour) {
    int first = -1, last = -1;
    for (int y = 0; y < image.height(); ++y)
        if ((image.pixel(x, y) & 0xffffff) == colour) {
            if (first < 0)
                first = y;
            last = y;
        }
    return {first, last};
}

// A left-button drag on the scope from one point to another, as the operator makes it.
void drag(ScopeWidget& scope, QPoint from, QPoint to) {
    QTest::mousePress(&scope, Qt::LeftButton, {}, from);
    QTest::mouseMove(&scope, to);
    QTest::mouseRelease(&scope, Qt::LeftButton, {}, to);
}

void wheel(ScopeWidget& scope, QPoint at, int delta) {
    QWheelEvent event(at, scope.mapToGlobal(at), {}, {0, delta}, Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&scope, &event);
}

double worldWidth(const GraphModel& m) {
    return m.right() - m.left();
}
double worldHeight(const GraphModel& m) {
    return m.top() - m.bottom();
}

} // namespace

TEST(ScopeWidgetTest, DenseAndSparseSeriesAreDrawnWhereTheWindowPutsThem) {
    GraphModel model;
    ScopeWidget scope(model);
    model.setTimeWindow(0, 1000);
    model.setValueWindow(0, 100);
    // Slot 1: 100,000 points alternating 20 / 80: every column spans 20..80.
    for (int i = 0; i < 100000; ++i)
        model.addSeriesPoint(1, i * 0.01, i % 2 ? 80 : 20);
    // Slot 3: two points, a line from (0, 50) to (1000, 50).
    model.addSeriesPoint(3, 0, 50);
    model.addSeriesPoint(3, 1000, 50);
    QImage image(800, 400, QImage::Format_RGB32);
    scope.render(image);
    const QRect plot = scope.plotRect(image.size());
    const int x = plot.left() + plot.width() / 2;
    const auto [top, bottom] = rowsWith(image, x, ScopeWidget::kSeriesColours[0]);
    const double rowsPerUnit = (plot.height() - 1) / 100.0;
    EXPECT_NEAR(top, plot.top() + 20 * rowsPerUnit, 1.5);
    EXPECT_NEAR(bottom, plot.top() + 80 * rowsPerUnit, 1.5);
    EXPECT_TRUE(columnHas(scope, image, plot.left() + 10, ScopeWidget::kSeriesColours[0]));
    const auto blue = rowsWith(image, x, ScopeWidget::kSeriesColours[2]);
    EXPECT_NEAR(blue.first, plot.top() + 50 * rowsPerUnit, 1.5);
    EXPECT_EQ(blue.first, blue.second);

    // Zoomed into the second half the dense series still fills the plot; the colour of the live trace
    // is the graphic colour.
    model.clearSeries(3);
    model.setTimeWindow(500, 600);
    model.addLivePoint(500, 10);
    model.addLivePoint(600, 10);
    scope.render(image);
    EXPECT_TRUE(columnHas(scope, image, plot.left() + 1, ScopeWidget::kSeriesColours[0]));
    EXPECT_FALSE(columnHas(scope, image, x, ScopeWidget::kSeriesColours[2]));
    EXPECT_TRUE(columnHas(scope, image, x, model.colour(GraphModel::Graphic)));

    // Cleared series leave only the background.
    for (int s = 1; s <= 5; ++s)
        model.clearSeries(s);
    model.clearLiveTrace();
    scope.render(image);
    EXPECT_FALSE(columnHas(scope, image, x, ScopeWidget::kSeriesColours[0]));
    EXPECT_FALSE(columnHas(scope, image, x, model.colour(GraphModel::Graphic)));
}

TEST(ScopeWidgetTest, RepaintsOnlyWhenTheModelAsks) {
    GraphModel model;
    ScopeWidget scope(model);
    scope.resize(400, 300);
    scope.show();
    QCoreApplication::processEvents();
    const int frames = scope.framesDrawn();
    // Adding points does not repaint.
    for (int i = 0; i < 1000; ++i)
        model.addLivePoint(i, i);
    QCoreApplication::processEvents();
    EXPECT_EQ(scope.framesDrawn(), frames);
    model.repaint();
    QCoreApplication::processEvents();
    EXPECT_EQ(scope.framesDrawn(), frames + 1);
}

TEST(ScopeWidgetTest, JpegOfTheScopeDecodesToItsSize) {
    GraphModel model;
    ScopeWidget scope(model);
    scope.resize(640, 360);
    for (int i = 0; i < 5000; ++i)
        model.addSeriesPoint(2, i * 2, 4000 + (i % 100) * 10);
    QTemporaryDir dir;
    tarvo::test::FakeOperator op;
    // Whatever the extension, the bytes are JPEG.
    const QString path = dir.filePath("graph.bmp");
    op.fileNames.push_back(path);
    ASSERT_TRUE(GraphPrinting::saveGraphAsJpeg(scope, op));
    EXPECT_TRUE(op.events.contains("save: *.jpg"));
    QProcess djpeg;
    djpeg.start("djpeg", {"-pnm", path});
    ASSERT_TRUE(djpeg.waitForFinished(10000));
    ASSERT_EQ(djpeg.exitCode(), 0) << djpeg.readAllStandardError().toStdString();
    const QList<QByteArray> header = djpeg.readAllStandardOutput().left(20).split('\n');
    ASSERT_GE(header.size(), 2);
    EXPECT_EQ(header[0], "P6");
    EXPECT_EQ(header[1], "640 360");

    // Cancelled: nothing written; an unwritable place: the file text.
    EXPECT_FALSE(GraphPrinting::saveGraphAsJpeg(scope, op));
    op.fileNames.push_back(dir.filePath("none/graph.jpg"));
    EXPECT_FALSE(GraphPrinting::saveGraphAsJpeg(scope, op));
    EXPECT_EQ(op.messageBoxes(), QStringList{" Can not write file!\n" + dir.filePath("none/graph.jpg") +
                                             ": No such file or directory"});
    // A pipe named as the picture stays a pipe. (The tests name no device of the machine: a regression
    // would replace it for every program.)
    const QString fifo = dir.filePath("pipe.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    op.clear();
    op.fileNames.push_back(fifo);
    EXPECT_FALSE(GraphPrinting::saveGraphAsJpeg(scope, op));
    EXPECT_EQ(op.messageBoxes(),
              QStringList{" Can not write file!\n" + fifo + ": Is a pipe, not a regular file"});
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
}

TEST(ScopeWidgetTest, PrintingPutsTheScaledPictureOnALandscapePage) {
    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("graph.pdf"));
    QImage picture(400, 200, QImage::Format_RGB32);
    picture.fill(Qt::yellow);
    ASSERT_TRUE(GraphPrinting::printPicture(printer, picture));
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Landscape);
    QFile pdf(dir.filePath("graph.pdf"));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.readAll().startsWith("%PDF"));
}

TEST(ScopeWidgetTest, ThePrintingAndJpegModuleIsBesideTheProgramsAndAPlaceWithoutItSaysSo) {
    QString problem;
    EXPECT_TRUE(QFileInfo(PictureOutput::path()).isFile()) << PictureOutput::path().toStdString();
    ASSERT_NE(PictureOutput::load(&problem), nullptr) << problem.toStdString();
    QTemporaryDir dir;
    const QString absent = dir.filePath("libtarvo-output.so");
    EXPECT_EQ(PictureOutput::loadFrom(absent, &problem), nullptr);
    EXPECT_EQ(problem,
              "The printing and JPEG support (" + absent + ") cannot be loaded: there is no such file");
    // Nothing to encode is refused, not a crash.
    EXPECT_TRUE(PictureOutput::load(nullptr)->encodeJpeg(nullptr, 10, 10, 40).isEmpty());
}

TEST(ScopeWidgetTest, DataWindowListsTheRingAndFollowsItsOption) {
    tarvo::test::FakeOperator op;
    devsim::SimulatedPorts::clear();
    devsim::Line line;
    devsim::SimulatedPorts::attach(1, &line);
    CommandLink comm(std::make_unique<devsim::SimulatedPort>(), op);
    comm.initialise();
    comm.streamMatcher().setStartString("D+");
    RecordingMemory memory;
    DataFiles files(op, memory);
    DosingMonitor monitor(comm, files);
    DataWindow data(monitor);
    EXPECT_EQ(data.windowTitle(), "Data");
    EXPECT_TRUE(data.windowFlags() & Qt::WindowStaysOnTopHint);
    ASSERT_EQ(data.list()->count(), 100);
    EXPECT_EQ(data.list()->item(0)->text(), "1: ");
    monitor.valueDisplayPacket("D+", "12.5");
    monitor.valueDisplayPacket("D+", "13.5");
    EXPECT_EQ(data.list()->item(0)->text(), "1: 135");
    EXPECT_EQ(data.list()->item(1)->text(), "2: 125");
    monitor.setShowLastAverage(true);
    EXPECT_TRUE(data.isVisible());
    data.hide();
    EXPECT_FALSE(monitor.showLastAverage());
    devsim::SimulatedPorts::clear();
}

TEST(ScopeWidgetTest, TinyDragZoomsStopAtTheSmallestWindowAndZoomingOutRecovers) {
    GraphModel model;
    ScopeWidget scope(model);
    scope.resize(640, 400);
    scope.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&scope));
    for (int i = 0; i < 200; ++i)
        model.addSeriesPoint(1, i * 50, (i % 7) * 1000);
    const QPoint at = scope.plotRect(scope.size()).center();
    for (int i = 0; i < 20; ++i)
        drag(scope, at, at + QPoint(5, 5));
    EXPECT_TRUE(std::isfinite(model.left()) && std::isfinite(model.right()));
    EXPECT_TRUE(std::isfinite(model.bottom()) && std::isfinite(model.top()));
    EXPECT_GE(worldWidth(model), GraphModel::kMinWorldWidth);
    EXPECT_GE(worldHeight(model), GraphModel::kMinWorldHeight);
    EXPECT_LT(worldWidth(model), 2 * GraphModel::kMinWorldWidth);
    EXPECT_LT(worldHeight(model), 2 * GraphModel::kMinWorldHeight);
    const int frames = scope.framesDrawn();
    EXPECT_EQ(scope.grab().size(), scope.size());
    EXPECT_GT(scope.framesDrawn(), frames);

    // Wheeling in and panning at the smallest window keep it; a drag to the upper left doubles it, the
    // wheel widens it by a quarter a notch until the whole recording is back in view.
    wheel(scope, at, 120);
    EXPECT_GE(worldWidth(model), GraphModel::kMinWorldWidth);
    EXPECT_GE(worldHeight(model), GraphModel::kMinWorldHeight);
    model.setMouseMode(GraphModel::MouseMode::Pan);
    drag(scope, at, at + QPoint(-30, 20));
    EXPECT_GE(worldWidth(model), GraphModel::kMinWorldWidth);
    EXPECT_GE(worldHeight(model), GraphModel::kMinWorldHeight);
    model.setMouseMode(GraphModel::MouseMode::Scale);
    const double narrow = worldWidth(model);
    drag(scope, at + QPoint(20, 20), at);
    EXPECT_NEAR(worldWidth(model), 2 * narrow, 1e-6 * narrow);
    for (int notch = 0; notch < 60; ++notch) {
        const double before = worldWidth(model);
        wheel(scope, at, -120);
        ASSERT_NEAR(worldWidth(model), 1.25 * before, 1e-6 * before) << notch;
    }
    EXPECT_LT(model.left(), 0);
    EXPECT_GT(model.right(), 10000);
    EXPECT_LT(model.bottom(), 0);
    EXPECT_GT(model.top(), 6000);
    EXPECT_EQ(scope.grab().size(), scope.size());
    // Zooming out without end stops at the limits.
    for (int notch = 0; notch < 400; ++notch)
        wheel(scope, at, -120);
    EXPECT_EQ(model.left(), -GraphModel::kWorldLimit);
    EXPECT_EQ(model.right(), GraphModel::kWorldLimit);
    EXPECT_EQ(model.bottom(), -GraphModel::kWorldLimit);
    EXPECT_EQ(model.top(), GraphModel::kWorldLimit);
    EXPECT_EQ(scope.grab().size(), scope.size());
}

TEST(ScopeWidgetTest, WindowsBeyondAnyMeasureStillDrawTheFrame) {
    GraphModel model;
    ScopeWidget scope(model);
    for (int i = 0; i < 100; ++i) {
        model.addSeriesPoint(2, i * 100, i);
        model.addLivePoint(i * 100, -i);
    }
    model.addMarker("Idle", 500);
    model.addPencilDrawing({QPointF(0, 0), QPointF(1000, 1000)});
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double left, right, bottom, top;
    } windows[] = {
        {0, 1e308, -100, 9000},
        {0, 10000, -1e308, 1e308},
        {-1e308, 1e308, -1e308, 1e308},
        {0, inf, -100, 9000},
        {0, 10000, -inf, inf},
        {-inf, inf, -inf, inf},
        {nan, 10000, -100, nan},
        {nan, nan, nan, nan},
        {1e17, 1e17 + 16, 1e17, 1e17 + 16},
        {0, 1e-300, 1e-300, 2e-300},
        {5, 5, 7, 7},
        {10000, 0, 9000, -100},
    };
    QImage image(640, 400, QImage::Format_RGB32);
    for (const auto& w : windows) {
        model.setTimeWindow(w.left, w.right);
        model.setValueWindow(w.bottom, w.top);
        // The room for the labels follows the view.
        const QRect plot = scope.plotRect(image.size());
        image.fill(Qt::white);
        scope.render(image);
        EXPECT_EQ(image.pixel(plot.right() - 1, plot.top()) & 0xffffff, model.colour(GraphModel::Axis))
            << w.left << " " << w.right << " " << w.bottom << " " << w.top;
    }
}

TEST(ScopeWidgetTest, ARubberBandShowsTheZoomRectangleWhileDragging) {
    GraphModel model;
    ScopeWidget scope(model);
    scope.resize(640, 400);
    scope.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&scope));
    const QPoint from = scope.plotRect(scope.size()).center();
    auto band = [&] { return scope.findChild<QRubberBand*>(); };
    for (const QPoint to : {from + QPoint(60, 40), from - QPoint(50, 30)}) {
        QTest::mousePress(&scope, Qt::LeftButton, {}, from);
        QTest::mouseMove(&scope, to);
        ASSERT_NE(band(), nullptr);
        EXPECT_TRUE(band()->isVisible());
        EXPECT_EQ(band()->geometry(), QRect(from, to).normalized());
        QTest::mouseRelease(&scope, Qt::LeftButton, {}, to);
        EXPECT_FALSE(band()->isVisible());
    }
    // Panning moves the picture, not a rectangle.
    model.setMouseMode(GraphModel::MouseMode::Pan);
    QTest::mousePress(&scope, Qt::LeftButton, {}, from);
    QTest::mouseMove(&scope, from + QPoint(60, 40));
    EXPECT_FALSE(band() && band()->isVisible());
    QTest::mouseRelease(&scope, Qt::LeftButton, {}, from + QPoint(60, 40));
}

TEST(ScopeWidgetTest, AtTwiceTheDensityThePictureKeepsItsPlacesAndItsLinesTheirWeight) {
    GraphModel model;
    ScopeWidget scope(model);
    model.setTimeWindow(0, 1000);
    model.setValueWindow(0, 100);
    // Slot 1 dense, spanning 20..80 in every column; slot 2 dense and flat at 30; slot 3 a sparse flat
    // line at 50.
    for (int i = 0; i < 100000; ++i) {
        model.addSeriesPoint(1, i * 0.01, i % 2 ? 80 : 20);
        model.addSeriesPoint(2, i * 0.01, 30);
    }
    model.addSeriesPoint(3, 0, 50);
    model.addSeriesPoint(3, 1000, 50);
    QImage normal(800, 400, QImage::Format_RGB32);
    scope.render(normal);
    QImage dense(1600, 800, QImage::Format_RGB32);
    dense.setDevicePixelRatio(2);
    scope.render(dense);

    const QRect plot = scope.plotRect(normal.size());
    const int x = plot.left() + plot.width() / 2;
    // The same places, in twice the pixels.
    const auto span = rowsWith(normal, x, ScopeWidget::kSeriesColours[0]);
    const auto spanAt2 = rowsWith(dense, 2 * x, ScopeWidget::kSeriesColours[0]);
    EXPECT_NEAR(spanAt2.first, 2 * span.first, 3);
    EXPECT_NEAR(spanAt2.second, 2 * span.second + 1, 3);
    // Flat lines, dense or sparse, are one pixel thick at normal density and two device pixels at
    // twice the density, not one that nearly vanishes.
    for (const Rgb colour : {ScopeWidget::kSeriesColours[1], ScopeWidget::kSeriesColours[2]}) {
        SCOPED_TRACE(colour);
        const auto line = rowsWith(normal, x, colour);
        const auto lineAt2 = rowsWith(dense, 2 * x, colour);
        EXPECT_EQ(line.second - line.first + 1, 1);
        EXPECT_EQ(lineAt2.second - lineAt2.first + 1, 2);
        EXPECT_NEAR(lineAt2.first, 2 * line.first, 2);
    }
    // The plot's frame (axis colour) is two device pixels thick as well.
    const Rgb axis = model.colour(GraphModel::Axis);
    int frameRows = 0;
    for (int y = 2 * plot.bottom() - 5; y <= 2 * plot.bottom() + 2; ++y)
        frameRows += (dense.pixel(2 * x + 1, y) & 0xffffff) == axis;
    EXPECT_EQ(frameRows, 2);
}

TEST(ScopeWidgetTest, AxisLabelsFitWholeAtEveryZoomAndTextSize) {
    GraphModel model;
    ScopeWidget scope(model);
    model.setValueWindow(-100000, 100000);
    const Rgb background = model.colour(GraphModel::Background);
    struct View {
        double left, right;
        QString lastLabel; // the right-most time label, centred on the plot's right edge
    };
    const View views[] = {{0, 10000, "10000"}, {0, 1000000, "1000000"}, {100, 100.5, "100.50"}};
    for (int pixels : {12, 18, 24}) { // normal, 150 % and 200 % text
        QFont font = scope.font();
        font.setPixelSize(pixels);
        scope.setFont(font);
        const QFontMetrics metrics(font);
        for (const View& view : views) {
            SCOPED_TRACE(QStringLiteral("%1 px, %2").arg(pixels).arg(view.lastLabel).toStdString());
            model.setTimeWindow(view.left, view.right);
            QImage image(500, 300, QImage::Format_RGB32);
            scope.render(image);
            const QRect plot = scope.plotRect(image.size());
            const int half = (metrics.horizontalAdvance(view.lastLabel) + 1) / 2;
            EXPECT_LE(plot.right() + half, image.width() - 1);
            // The label's ink, in the line under the plot: drawn out to its end, and not to the edge.
            int inkRight = -1;
            for (int y = plot.bottom() + 2; y < plot.bottom() + 2 + metrics.height(); ++y)
                for (int x = plot.right() + 1; x < image.width(); ++x)
                    if ((image.pixel(x, y) & 0xffffff) != background)
                        inkRight = std::max(inkRight, x);
            EXPECT_GE(inkRight, plot.right() + half - metrics.averageCharWidth());
            EXPECT_LT(inkRight, image.width() - 1);
            // The widest value label ("-100000") starts inside the picture.
            int inkLeft = INT_MAX;
            for (int y = plot.top(); y <= plot.bottom(); ++y)
                for (int x = 0; x < plot.left(); ++x)
                    if ((image.pixel(x, y) & 0xffffff) != background)
                        inkLeft = std::min(inkLeft, x);
            EXPECT_GT(inkLeft, 0);
            EXPECT_LT(inkLeft, plot.left());
        }
    }
}
