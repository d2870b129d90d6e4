#include "GraphModel.h"

#include <cstdlib>
#include <new>

namespace tarvo {

PointSeries::PointSeries(std::size_t capacity) : capacity_(capacity) {
    points_ = static_cast<GraphPoint*>(std::calloc(capacity, sizeof(GraphPoint)));
    if (!points_)
        throw std::bad_alloc();
}

PointSeries::~PointSeries() {
    std::free(points_);
}

bool PointSeries::add(double time, double value) {
    if (size_ == capacity_)
        return false;
    points_[size_++] = {time, value};
    return true;
}

GraphModel::GraphModel(QObject* parent) : QObject(parent) {
    for (auto& s : series_)
        s = new PointSeries(kMaxSamples);
    live_ = new PointSeries(kMaxSamples);
    markers_.reserve(256);
}

GraphModel::~GraphModel() {
    for (auto* s : series_)
        delete s;
    delete live_;
}

void GraphModel::removeLastPencilDrawing() {
    if (!pencil_.isEmpty())
        pencil_.removeLast();
}

void GraphModel::scaleToCapture(double vmin, double vmax, double elapsed) {
    const double m = (vmax - vmin) / 10;
    top_ = vmax + m;
    bottom_ = vmin - m;
    right_ = elapsed + elapsed / 10;
    left_ = -elapsed / 10;
}

void GraphModel::repaint() {
    ++repaints_;
    emit repaintRequested();
}

} // namespace tarvo
