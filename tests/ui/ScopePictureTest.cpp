// The scope's picture, pixel for pixel, against stored pictures of the same data and views: dense and
// sparse slots, a slot with a gap and steep edges, one with a few points per pixel column, a flat one, the
// live trace, markers and pencil drawings, whole, zoomed and panned, as lines and as points, at normal and
// at twice the density. The stored pictures are what the scope drew before its drawing was made faster;
// any change to how it draws shows here. After an intended change of the picture,
// TARVO_WRITE_SCOPE_PICTURES=1 writes them anew (look at them before committing them).
#include "measure/GraphModel.h"
#include "support/TestPaths.h"
#include "ui/ScopeWidget.h"

#include <QDir>
#include <QFontInfo>
#include <QImage>
#include <QPixmap>
#include <cmath>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::ui;

namespace {

constexpr QSize kSize(640, 400);

// A little noise that is the same on every machine (no library distribution).
int noise(std::uint32_t i) {
    i ^= i >> 16;
    i *= 0x7feb352du;
    i ^= i >> 15;
    i *= 0x846ca68bu;
    i ^= i >> 16;
    return static_cast<int>(i % 41) - 20;
}

// Slot 1: a long recording, 0.1 ms apart, slow filling cycles with noise (dense in any whole view).
void addSlot1(GraphModel& m, int from, int to) {
    for (int i = from; i < to; ++i)
        m.addSeriesPoint(1, i * 0.1, std::round(4000 + 3000 * std::sin(i / 4000.0) + noise(i)));
}

void fill(GraphModel& m) {
    addSlot1(m, 0, 120000);
    // Slot 2: a square wave between 1000 and 6000 every 500 ms, 0.5 ms apart, with no points from 4000
    // to 6000 ms.
    for (int i = 0; i < 20000; ++i) {
        const double t = i * 0.5;
        if (t >= 4000 && t < 6000)
            continue;
        m.addSeriesPoint(2, t, static_cast<int>(t / 500) % 2 ? 6000 : 1000);
    }
    // Slot 3: forty points 250 ms apart, a zigzag.
    for (int i = 0; i < 40; ++i)
        m.addSeriesPoint(3, i * 250.0, i % 2 ? 7500 : 500 + 100 * i);
    // Slot 4: 1,500 points over 9 s, two or three to a pixel column in the whole view.
    for (int i = 0; i < 1500; ++i)
        m.addSeriesPoint(4, i * 6.0, std::round(2000 + 1500 * std::cos(i / 40.0) + 5 * noise(i + 7)));
    // Slot 5: flat at 2500 from 2 s to 8 s, with unevenly spaced times.
    for (int i = 0; i < 30000; ++i)
        m.addSeriesPoint(5, 2000 + 6000 * std::pow(i / 29999.0, 1.5), 2500);
    for (int i = 0; i < 3000; ++i)
        m.addLivePoint(i, std::round(8000 + 600 * std::sin(i / 90.0) + noise(i + 11)));
    m.addMarker(QStringLiteral("Idle"), 1500);
    m.addMarker(QStringLiteral("Triged"), 7000);
    m.addPencilDrawing({QPointF(500, 8500), QPointF(1500, 7000), QPointF(2600, 8200)});
    m.addPencilDrawing({QPointF(6000, 500), QPointF(9500, 3000)});
}

struct View {
    const char* name;
    double left, right, bottom, top;
    GraphModel::DrawStyle style = GraphModel::DrawStyle::Lines;
};

const View kViews[] = {
    {"whole", -500, 10500, -500, 9000},
    {"zoomed", 3000, 5000, 2500, 7000},
    {"zoomed-sparse", 4000, 4100, 3000, 8000},
    {"panned", -3000, 7000, -2000, 7500},
    {"few-per-column", 0, 250, 800, 7800},
    {"points", -500, 10500, -500, 9000, GraphModel::DrawStyle::Points},
    {"flat-window", 1000, 9000, 2500, 2500},
};

QString picturePath(const QString& name) {
    return test::sourceDir() + "/tests/data/scope/" + name + ".png";
}

bool writing() {
    return qEnvironmentVariableIntValue("TARVO_WRITE_SCOPE_PICTURES") == 1;
}

// Exact equality; on a difference says how many pixels differ and where the first one is, and keeps the
// picture drawn beside the build for a look.
void expectPicture(const QImage& drawn, const QString& name) {
    const QString path = picturePath(name);
    if (writing()) {
        QDir().mkpath(QFileInfo(path).path());
        ASSERT_TRUE(drawn.save(path)) << path.toStdString();
        return;
    }
    QImage stored(path);
    ASSERT_FALSE(stored.isNull()) << "no picture " << path.toStdString();
    stored = stored.convertToFormat(QImage::Format_RGB32);
    const QImage image = drawn.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(image.size(), stored.size()) << name.toStdString();
    int differing = 0;
    QPoint first(-1, -1);
    for (int y = 0; y < image.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(stored.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((a[x] & 0xffffff) != (b[x] & 0xffffff) && differing++ == 0)
                first = QPoint(x, y);
    }
    if (differing) {
        const QString kept = test::binaryDir() + "/scope-" + name + ".png";
        image.save(kept);
        ADD_FAILURE() << name.toStdString() << ": " << differing << " pixels differ, the first at ("
                      << first.x() << ", " << first.y() << "); drawn: " << kept.toStdString();
    }
}

class ScopePictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The labels' font is named so that the pictures do not follow the desktop's choice.
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(12);
        scope.setFont(font);
        ASSERT_EQ(QFontInfo(scope.font()).family(), QStringLiteral("DejaVu Sans"))
            << "the pictures are drawn with DejaVu Sans (fonts-dejavu-core)";
    }
    void show(const View& v) {
        model.setTimeWindow(v.left, v.right);
        model.setValueWindow(v.bottom, v.top);
        model.setDrawStyle(v.style);
    }
    QImage draw(qreal ratio) {
        QImage image(kSize * ratio, QImage::Format_RGB32);
        image.setDevicePixelRatio(ratio);
        scope.render(image);
        return image;
    }

    GraphModel model;
    ScopeWidget scope{model};
};

} // namespace

TEST_F(ScopePictureTest, EveryViewAtEitherDensityIsDrawnAsBefore) {
    fill(model);
    // One frame reused from view to view, as the window reuses its own: nothing of a view may stay in
    // the next.
    for (const qreal ratio : {1.0, 2.0}) {
        QImage frame(kSize * ratio, QImage::Format_RGB32);
        frame.setDevicePixelRatio(ratio);
        for (const View& v : kViews) {
            // Twice the density: the views that differ most in points per device pixel.
            if (ratio == 2 && QByteArray(v.name) != "whole" && QByteArray(v.name) != "zoomed" &&
                QByteArray(v.name) != "panned" && QByteArray(v.name) != "points")
                continue;
            SCOPED_TRACE(v.name);
            show(v);
            scope.render(frame);
            expectPicture(frame, QStringLiteral("%1@%2x").arg(v.name).arg(ratio));
            // Drawn into a new picture of its own, the same.
            if (!writing())
                expectPicture(draw(ratio), QStringLiteral("%1@%2x").arg(v.name).arg(ratio));
        }
    }
}

TEST_F(ScopePictureTest, FramesOfAnOddSizeOrAnotherPixelFormatAreDrawnAsBefore) {
    fill(model);
    show(kViews[0]);
    // Sizes that are no multiple of the rows or of the pixels the scope makes at a time.
    for (const qreal ratio : {1.0, 2.0}) {
        QImage frame(QSize(637, 397) * ratio, QImage::Format_RGB32);
        frame.setDevicePixelRatio(ratio);
        scope.render(frame);
        expectPicture(frame, QStringLiteral("odd-size@%1x").arg(ratio));
    }
    if (writing())
        return;
    // A frame of three bytes a pixel gets the same picture, its traces included.
    QImage narrow(kSize, QImage::Format_RGB888);
    scope.render(narrow);
    EXPECT_EQ(narrow.format(), QImage::Format_RGB888);
    expectPicture(narrow, QStringLiteral("whole@1x"));
    // One without pixels stays as it is.
    for (QImage empty :
         {QImage(), QImage(QSize(0, 0), QImage::Format_RGB888), QImage(QSize(0, 5), QImage::Format_RGB32)}) {
        scope.render(empty);
        EXPECT_TRUE(empty.isNull());
    }
}

TEST_F(ScopePictureTest, SlotsChangedBetweenFramesAreDrawnAsIfDrawnAtOnce) {
    if (writing())
        GTEST_SKIP() << "compares with the pictures the other test writes";
    // Half of slot 1, a frame, then the rest; a slot cleared and drawn again; the same as all at once.
    addSlot1(model, 0, 50000);
    show(kViews[0]);
    draw(1);
    addSlot1(model, 50000, 60001);
    draw(1);
    addSlot1(model, 60001, 120000);
    GraphModel full;
    fill(full);
    for (int slot = 2; slot <= kGraphSlots; ++slot)
        for (const GraphPoint& p : full.series(slot))
            model.addSeriesPoint(slot, p.time, p.value);
    draw(1);
    model.clearSeries(3);
    model.addSeriesPoint(3, 0, 0);
    draw(1);
    model.clearSeries(3);
    for (const GraphPoint& p : full.series(3))
        model.addSeriesPoint(3, p.time, p.value);
    for (const GraphPoint& p : full.liveTrace())
        model.addLivePoint(p.time, p.value);
    for (const GraphMarker& mark : full.markers())
        model.addMarker(mark.text, mark.time);
    for (const GraphModel::Stroke& stroke : full.pencilDrawings())
        model.addPencilDrawing(stroke);
    expectPicture(draw(1), QStringLiteral("whole@1x"));
    show(kViews[1]);
    expectPicture(draw(1), QStringLiteral("zoomed@1x"));

    // A RUN's frames keep the background and the slots while the live trace grows between them: each
    // one as a scope drawing everything afresh shows it, at either density.
    for (const qreal ratio : {1.0, 2.0}) {
        model.clearLiveTrace();
        draw(ratio);
        for (int frame = 0; frame < 4; ++frame) {
            // Cleared and drawn elsewhere, as a new recording starts: nothing of the last frame may stay.
            if (frame == 2)
                model.clearLiveTrace();
            for (int i = 0; i < 500; ++i)
                model.addLivePoint(frame * 500 + i, 8000 - 600 * frame + (i % 50) * 10);
            const QImage kept = draw(ratio);
            ScopeWidget fresh(model);
            fresh.setFont(scope.font());
            QImage afresh(kSize * ratio, QImage::Format_RGB32);
            afresh.setDevicePixelRatio(ratio);
            fresh.render(afresh);
            EXPECT_TRUE(kept == afresh) << "frame " << frame << " at " << ratio;
        }
    }
    model.clearLiveTrace();
    for (const GraphPoint& p : full.liveTrace())
        model.addLivePoint(p.time, p.value);

    // The window's own painting shows the same picture.
    show(kViews[0]);
    scope.resize(kSize);
    expectPicture(scope.grab().toImage(), QStringLiteral("whole@1x"));
}
