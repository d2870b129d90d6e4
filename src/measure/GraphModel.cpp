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

// The smaller and the larger of a running value (never NaN) and another, leaving a NaN out: one
// instruction each.
double lower(double a, double b) {
    return b < a ? b : a;
}
double higher(double a, double b) {
    return b > a ? b : a;
}
} // namespace

PointSeries::PointSeries(std::size_t capacity) : capacity_(capacity) {
    points_ = static_cast<GraphPoint*>(std::calloc(std::max<std::size_t>(capacity, 1), sizeof(GraphPoint)));
    // As many levels as make one block hold more points than there is room for; no level for a series
    // too short to fill one block.
    std::size_t blocks = 0;
    for (; levels_ < kMaxLevels && blockSize(levels_) <= capacity; ++levels_) {
        levelStart_[static_cast<std::size_t>(levels_)] = blocks;
        blocks += (capacity + blockSize(levels_) - 1) / blockSize(levels_);
    }
    blocks_ = static_cast<Block*>(std::calloc(std::max<std::size_t>(blocks, 1), sizeof(Block)));
    if (!points_ || !blocks_) {
        std::free(points_);
        std::free(blocks_);
        throw std::bad_alloc();
    }
}

PointSeries::~PointSeries() {
    std::free(points_);
    std::free(blocks_);
}

void PointSeries::extendEnvelope() const {
    const std::size_t from = enveloped_;
    enveloped_ = size_;
    if (levels_ == 0 || from >= size_)
        return;
    // Blocks first to last of a level made again from their parts 0..parts-1 (8 to a block), each part's
    // envelope given by envelopeOf. A block starts empty: a NaN value is left out of the smallest and
    // largest, and a NaN time stays as the latest (the walk stops at it, so such a block is never taken
    // whole).
    auto remake = [](Block* blocks, std::size_t first, std::size_t last, std::size_t parts, auto envelopeOf) {
        for (std::size_t b = first; b <= last; ++b) {
            Block e{HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
            const std::size_t end = std::min(parts, (b + 1) << kBlockShift);
            for (std::size_t n = b << kBlockShift; n < end; ++n) {
                const Block part = envelopeOf(n);
                e.low = lower(e.low, part.low);
                e.high = higher(e.high, part.high);
                e.latest = part.latest > e.latest || part.latest != part.latest ? part.latest : e.latest;
            }
            blocks[b] = e;
        }
    };
    // The first level: the blocks the new points fall in.
    remake(level(0), from >> kBlockShift, (size_ - 1) >> kBlockShift, size_, [this](std::size_t n) {
        const GraphPoint& p = points_[n];
        return Block{p.value, p.value, p.time};
    });
    // Above it a block holds its complete children only (higher blocks are read only once complete): the
    // blocks above children the new points completed, level by level while there are such children.
    for (int k = 0; k + 1 < levels_; ++k) {
        const std::size_t complete = size_ / blockSize(k);
        const std::size_t firstNew = from / blockSize(k);
        if (complete <= firstNew)
            break;
        const Block* children = level(k);
        remake(level(k + 1), firstNew >> kBlockShift, (complete - 1) >> kBlockShift, complete,
               [children](std::size_t c) { return children[c]; });
    }
}

std::size_t PointSeries::valuesBefore(std::size_t i, std::size_t to, double edge, double& low,
                                      double& high) const {
    to = std::min(to, size_);
    if (i >= to || !(points_[i].time < edge))
        return i;
    if (enveloped_ < size_)
        extendEnvelope();
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    // Points from i to stop while before the edge; whether all were.
    auto points = [&](std::size_t stop) {
        for (; i < stop; ++i) {
            const GraphPoint& p = points_[i];
            if (!(p.time < edge))
                return false;
            lo = lower(lo, p.value);
            hi = higher(hi, p.value);
        }
        return true;
    };
    // Blocks of level k from i (on a block's start) to stop while whole before the edge and the end.
    auto blocks = [&](int k, std::size_t stop) {
        const int shift = kBlockShift * (k + 1);
        const std::size_t size = std::size_t{1} << shift;
        const Block* level = this->level(k);
        while (i < stop) {
            // Above the first level only a complete block holds its points.
            if (k > 0 && i + size > size_)
                return false;
            const Block& b = level[i >> shift];
            const std::size_t next = std::min(i + size, size_);
            if (next > to || !(b.latest < edge))
                return false;
            lo = lower(lo, b.low);
            hi = higher(hi, b.high);
            i = next;
        }
        return true;
    };
    // Up from the points to ever larger blocks while they lie whole before the edge, then down into the
    // first one that does not: a run of n points costs a few blocks per level, not n points.
    while (i < to) {
        int k = -1;
        for (;;) {
            const bool top = k + 1 >= levels_;
            const std::size_t stop =
                top ? to : std::min(to, (i + blockSize(k + 1) - 1) & ~(blockSize(k + 1) - 1));
            if (!(k < 0 ? points(stop) : blocks(k, stop)) || i >= to)
                break;
            ++k;
        }
        if (k < 0)
            break;
        // The block of level k at i is not whole before the edge: its parts, level by level.
        bool whole = false;
        while (k >= 0) {
            const std::size_t stop = std::min(i + blockSize(k), to);
            --k;
            whole = k < 0 ? points(stop) : blocks(k, stop);
            if (whole)
                break;
        }
        if (!whole)
            break;
    }
    low = lo;
    high = hi;
    return i;
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
