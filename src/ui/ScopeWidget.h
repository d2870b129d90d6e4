#pragma once

#include "measure/GraphModel.h"

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

class QRubberBand;

namespace tarvo::ui {

// The scope: draws the graph model (five slot series, live trace, markers, pencil drawings) in its world
// window. Dense traces are drawn as one min/max span per pixel column straight into the frame's pixels,
// each span read from the series' envelope, so a frame costs in proportion to its pixels whatever the
// number of points; a new view is drawn straight into the frame, and the background with the slots is
// kept while frames with the same view follow. It repaints only when the model asks (the live-draw refresh
// timer, a drawing, a control) or the operator moves the view.
class ScopeWidget : public QWidget {
    Q_OBJECT
public:
    // The five slot series: yellow, red, blue, green, fuchsia.
    static constexpr Rgb kSeriesColours[5] = {0xffff00, 0xff0000, 0x0000ff, 0x00ff00, 0xff00ff};

    explicit ScopeWidget(GraphModel& model, QWidget* parent = nullptr);

    GraphModel& model() { return model_; }
    // Draws the whole picture into target at the target's size (fastest in Format_RGB32).
    void render(QImage& target);
    // The current picture at the widget's size (for saving and printing).
    QImage picture();
    // The plotting area inside a picture of the given size, with room for the labels of the current view.
    QRect plotRect(QSize size) const;
    int framesDrawn() const { return frames_; }

    // One pixel column's vertical run of a dense trace, in the frame's device pixels (bottom included), as
    // wide as one of the widget's pixels.
    struct Span {
        int x, top, bottom, width;
    };
    struct DenseTrace {
        const std::vector<Span>* spans;
        QRgb pixel;
    };

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    static QRect plotRect(QSize size, const QFont& font, double left, double right, double bottom,
                          double top);
    struct BackgroundKey {
        QSize size; // in the widget's (device-independent) pixels
        qreal pixelRatio = 1;
        double left = 0, right = 0, bottom = 0, top = 0;
        Rgb background = 0, indicator = 0, axis = 0, grid = 0;
        QString caption, units;
        QFont font;
        bool operator==(const BackgroundKey&) const = default;
    };
    // The five slots change only when a recording is drawn, cleared or the view moves: their picture on
    // top of the background is kept until then, and each frame adds only the live trace and overlays.
    struct SlotLayerKey {
        BackgroundKey background;
        std::array<std::uint64_t, kGraphSlots> revisions{};
        GraphModel::DrawStyle style = GraphModel::DrawStyle::Lines;
        bool operator==(const SlotLayerKey&) const = default;
    };
    enum class TraceShape { Nothing, Sparse, Dense };
    BackgroundKey currentKey(const QImage& target) const;
    // The background, with the dense traces given put in on top of it.
    void drawBackground(QImage& image, const BackgroundKey& key, const std::vector<DenseTrace>& traces);
    // Works out the spans of a dense trace; a sparse one is left to drawSparseTrace.
    TraceShape traceSpans(const QImage& image, const QRect& plot, const PointSeries& series,
                          std::vector<Span>& spans) const;
    void drawSparseTrace(QImage& image, const QRect& plot, const PointSeries& series, Rgb colour) const;
    void drawTrace(QImage& image, const QRect& plot, const PointSeries& series, Rgb colour);
    void drawOverlays(QImage& image, const QRect& plot) const;
    QPointF toWorld(QPointF pixel) const;
    QPointF toPixel(QPointF world, const QRect& plot) const;
    void zoomAt(QPointF pixel, double factorX, double factorY);

    GraphModel& model_;
    QImage slotLayer_;
    SlotLayerKey slotLayerKey_;
    SlotLayerKey previousLayerKey_;
    QImage frame_;
    int frames_ = 0;
    // Kept from frame to frame so that drawing one allocates nothing.
    std::array<std::vector<Span>, kGraphSlots + 1> spans_;
    std::vector<DenseTrace> traces_;
    std::vector<QRgb> band_;
    std::vector<Span> bandSpans_;
    std::vector<int> bandStarts_;
    std::array<std::vector<Span>, kGraphSlots + 1> activeSpans_;
    // Mouse interaction.
    bool dragging_ = false;
    QPoint pressPos_;
    QPoint lastPos_;
    QPoint cursor_{-1, -1};
    GraphModel::Stroke stroke_;
    bool strokeIsLine_ = false;
    QRubberBand* rubberBand_ = nullptr;
};

} // namespace tarvo::ui
