#include "GraphModel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>

namespace tarvo {

namespace {
// [low, high] at least `least` wide and inside ±kWorldLimit; false for bounds that are not finite.
bool limitWindow(double& low, double& high, double least) {
    constexpr double limit = GraphModel::kWorldLimit;
    if (!std::isfinite(low) || !std::isfinite(high))
        return false;
    if (high < low)
        std::swap(low, high);
    // A window moved past a limit is moved back, one wider than the limits allow is cut.
    if (low < -limit) {
        high = std::min(high + (-limit - low), limit);
        low = -limit;
    } else if (high > limit) {
        low = std::max(low - (high - limit), -limit);
        high = limit;
    }
    if (!(high - low >= least)) {
        const double middle = std::clamp(low / 2 + high / 2, -limit + least / 2, limit - least / 2);
        low = middle - least / 2;
        high = middle + least / 2;
    }
    return true;
}
} // namespace

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
    ++revision_;
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

void GraphModel::followLiveTrace() {
    if (live_->empty())
        return;
    // The window turns a page: the newest sample goes to the first quarter, so the view moves now and
    // then instead of with every sample (a steady picture to read, and the slots' drawing is kept).
    const double newest = (*live_)[live_->size() - 1].time;
    if (newest > right_) {
        const double width = right_ - left_;
        left_ = newest - width / 4;
        right_ = left_ + width;
    }
}

void GraphModel::viewTimeWindow(double l, double r) {
    if (limitWindow(l, r, kMinWorldWidth))
        setTimeWindow(l, r);
}

void GraphModel::viewValueWindow(double b, double t) {
    if (limitWindow(b, t, kMinWorldHeight))
        setValueWindow(b, t);
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
