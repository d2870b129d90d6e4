#pragma once

#include "SampleRecord.h"
#include "base/Operator.h"

#include <QList>
#include <QObject>
#include <QPointF>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

namespace tarvo {

struct GraphPoint {
    double time = 0;
    double value = 0;
};

// An ordered list of points whose storage is reserved once (zeroed, untouched until used) and never
// grows: adding past the capacity is refused. Beside the points it keeps their envelope, kept up as
// points are read: for every block of 8, 64, 512, ... consecutive points their smallest and largest
// value and their latest time, so that the smallest and largest value of a long run of points is read
// from a few blocks instead of from every point.
class PointSeries {
public:
    explicit PointSeries(std::size_t capacity);
    ~PointSeries();
    PointSeries(const PointSeries&) = delete;
    PointSeries& operator=(const PointSeries&) = delete;

    // The envelope is brought up to date when it is next read: a stream adds points one by one at the
    // line's rate, and a view reads them at most a few dozen times a second.
    bool add(double time, double value) {
        if (size_ == capacity_)
            return false;
        points_[size_++] = {time, value};
        ++revision_;
        return true;
    }
    void clear() {
        size_ = 0;
        enveloped_ = 0;
        ++revision_;
    }
    // Changes whenever the points change, so a drawing of them can be kept until then.
    std::uint64_t revision() const { return revision_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const GraphPoint& operator[](std::size_t i) const { return points_[i]; }
    const GraphPoint* begin() const { return points_; }
    const GraphPoint* end() const { return points_ + size_; }

    // The points from index `from` on, up to index `to` (at most size()), taken one after the other while
    // each one's time is before `edge`: gives the index after the last one taken and, when one was
    // taken, their smallest and largest value in low and high (left as they were otherwise). NaN values
    // are left out: when all were NaN, low is +infinity and high -infinity. The same answer as a walk over
    // the points, whatever the order of their times.
    std::size_t valuesBefore(std::size_t from, std::size_t to, double edge, double& low, double& high) const;
    // Asks the processor to fetch what valuesBefore will read near index i, while it reads elsewhere.
    void prefetch(std::size_t i) const {
        if (i >= size_)
            return;
        __builtin_prefetch(points_ + i);
        __builtin_prefetch(points_ + (i | 7));
        for (int k = 0; k < levels_ && k < 2; ++k)
            __builtin_prefetch(level(k) + (i >> (kBlockShift * (k + 1))));
    }

private:
    // The envelope of a block of points.
    struct Block {
        double low;
        double high;
        double latest; // the latest time in the block
    };
    // Blocks of level k hold 8^(k + 1) points.
    static constexpr int kBlockShift = 3;
    static constexpr int kMaxLevels = 20;
    static constexpr std::size_t blockSize(int level) {
        return std::size_t{1} << (kBlockShift * (level + 1));
    }
    Block* level(int k) const { return blocks_ + levelStart_[static_cast<std::size_t>(k)]; }
    // Brings the envelope up to the points added since it was last read.
    void extendEnvelope() const;

    GraphPoint* points_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
    std::uint64_t revision_ = 0;
    Block* blocks_ = nullptr;
    mutable std::size_t enveloped_ = 0; // the points the blocks hold so far
    int levels_ = 0;
    std::array<std::size_t, kMaxLevels> levelStart_{};
};

struct GraphMarker {
    QString text;
    double time = 0;
};

// What the scope shows, as data: the world window, one series per graph slot, the live trace, the
// markers, the pencil drawings, caption, unit label, colours, draw style and mouse mode. The scope
// widget draws this; the core writes it.
class GraphModel : public QObject {
    Q_OBJECT
public:
    enum class DrawStyle { Lines, Points };
    enum class MouseMode { Nothing, Pan, Scale, ScaleX, ScaleY, Cross, CombinedDraw, Pencil, Line, Measure };
    enum ColourCode { Background = 1, IndicatorBackground, Axis, Grid, Graphic, Marks };
    using Stroke = QList<QPointF>;

    // The smallest window the mouse can make, 1 ms by 1 count: below it the grid's step falls under what
    // the positions can resolve. Bounds set by the mouse also stay within ±kWorldLimit.
    static constexpr double kMinWorldWidth = 1.0;
    static constexpr double kMinWorldHeight = 1.0;
    static constexpr double kWorldLimit = 1e12;

    explicit GraphModel(QObject* parent = nullptr);
    ~GraphModel() override;

    double left() const { return left_; }
    double right() const { return right_; }
    double bottom() const { return bottom_; }
    double top() const { return top_; }
    void setLeft(double v) { left_ = v; }
    void setRight(double v) { right_ = v; }
    void setBottom(double v) { bottom_ = v; }
    void setTop(double v) { top_ = v; }
    void setTimeWindow(double l, double r) { left_ = l, right_ = r; }
    void setValueWindow(double b, double t) { bottom_ = b, top_ = t; }
    // The window as the operator zooms and pans it: never smaller than the smallest window (a window
    // too small grows about its middle), never beyond the limit; bounds that are not finite change
    // nothing.
    void viewTimeWindow(double l, double r);
    void viewValueWindow(double b, double t);

    // slot 1..5
    const PointSeries& series(int slot) const { return *series_[static_cast<std::size_t>(slot - 1)]; }
    void clearSeries(int slot) { series_[static_cast<std::size_t>(slot - 1)]->clear(); }
    void addSeriesPoint(int slot, double time, double value) {
        series_[static_cast<std::size_t>(slot - 1)]->add(time, value);
    }

    const PointSeries& liveTrace() const { return *live_; }
    void addLivePoint(double time, double value) { live_->add(time, value); }
    void clearLiveTrace() { live_->clear(); }
    // While a recording runs: a newest live point beyond the right edge turns the time window a page on,
    // keeping its width, so that the point sits in the window's first quarter.
    void followLiveTrace();

    const QList<GraphMarker>& markers() const { return markers_; }
    void addMarker(const QString& text, double time) { markers_.append({text, time}); }
    void clearMarkers() { markers_.clear(); }

    const QList<Stroke>& pencilDrawings() const { return pencil_; }
    void addPencilDrawing(const Stroke& stroke) { pencil_.append(stroke); }
    void removeLastPencilDrawing();
    void removeAllPencilDrawings() { pencil_.clear(); }

    const QString& caption() const { return caption_; }
    void setCaption(const QString& text) { caption_ = text; }
    const QString& unitLabel() const { return units_; }
    void setUnitLabel(const QString& text) { units_ = text; }
    Rgb colour(ColourCode code) const { return colours_[static_cast<std::size_t>(code - 1)]; }
    void setColour(ColourCode code, Rgb rgb) { colours_[static_cast<std::size_t>(code - 1)] = rgb; }
    DrawStyle drawStyle() const { return style_; }
    void setDrawStyle(DrawStyle s) { style_ = s; }
    MouseMode mouseMode() const { return mode_; }
    void setMouseMode(MouseMode m) { mode_ = m; }
    // Mouse interaction is locked while a RUN recording writes into the view.
    bool locked() const { return locked_; }
    void setLocked(bool on) { locked_ = on; }

    // Plots a finished capture: window from the values' range and the elapsed time E, then the points
    // of the selected slot's series. Used by the three draw operations.
    void scaleToCapture(double vmin, double vmax, double elapsed);

    void repaint();
    int repaintCount() const { return repaints_; }

signals:
    void repaintRequested();

private:
    double left_ = 0, right_ = 10000, bottom_ = -100, top_ = 9000;
    std::array<PointSeries*, kGraphSlots> series_{};
    PointSeries* live_ = nullptr;
    QList<GraphMarker> markers_;
    QList<Stroke> pencil_;
    QString caption_ = QStringLiteral(">Change this text in Graph Options<");
    QString units_ = QStringLiteral("n");
    std::array<Rgb, 6> colours_{0x000000, 0x000000, 0x00ff00, 0x808080, 0xffff00, 0xff0000};
    DrawStyle style_ = DrawStyle::Lines;
    MouseMode mode_ = MouseMode::Scale;
    bool locked_ = false;
    int repaints_ = 0;
};

} // namespace tarvo
