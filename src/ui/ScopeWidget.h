#pragma once

#include "measure/GraphModel.h"

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>

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
    // Draws the whole picture into target (Format_RGB32) at the target's size.
    void render(QImage& target);
    // The current picture at the widget's size (for saving and printing).
    QImage picture();
    // The plotting area inside a picture of the given size, with room for the labels of the current view.
    QRect plotRect(QSize size) const;
    int framesDrawn() const { return frames_; }

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
    BackgroundKey currentKey(const QImage& target) const;
    void drawBackground(QImage& image, const BackgroundKey& key) const;
    void drawTrace(QImage& image, const QRect& plot, const PointSeries& series, Rgb colour) const;
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
