#include "SpanMeasure.h"

#include "base/Operator.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

QString fixed(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

} // namespace

SpanMeasure::SpanMeasure(GraphModel& graph, std::function<int()> selectedSlot, Operator* op, QObject* parent)
    : QObject(parent), graph_(graph), selectedSlot_(std::move(selectedSlot)), op_(op) {}

const PointSeries& SpanMeasure::series() const {
    const int slot = std::clamp(selectedSlot_ ? selectedSlot_() : 1, 1, kGraphSlots);
    // A RUN recording is on the live trace until the slot is drawn again.
    const PointSeries& drawn = graph_.series(slot);
    return drawn.empty() ? graph_.liveTrace() : drawn;
}

qsizetype SpanMeasure::nearest(double timeMs) const {
    const PointSeries& s = series();
    const GraphPoint* at = std::lower_bound(s.begin(), s.end(), timeMs,
                                            [](const GraphPoint& p, double t) { return p.time < t; });
    qsizetype i = at - s.begin();
    if (i >= qsizetype(s.size()))
        return qsizetype(s.size()) - 1;
    if (i > 0 && timeMs - s[std::size_t(i - 1)].time <= s[std::size_t(i)].time - timeMs)
        --i;
    return i;
}

int SpanMeasure::decimalsOf(const double* values, qsizetype count) {
    int decimals = 0;
    const qsizetype n = std::min<qsizetype>(count, 2000);
    for (qsizetype i = 0; i < n && decimals < 5; ++i) {
        const double v = values[i];
        for (; decimals < 5; ++decimals) {
            const double scaled = v * std::pow(10.0, decimals);
            if (std::fabs(scaled - std::round(scaled)) <= std::fabs(scaled) * 0x1.0p-21 + 1e-9)
                break;
        }
    }
    return decimals;
}

void SpanMeasure::press(double timeMs, bool cursors) {
    if (series().empty() || !std::isfinite(timeMs))
        return;
    dragging_ = true;
    draggingCursors_ = cursors;
    anchor_ = nearest(timeMs);
    if (cursors)
        setDifference(anchor_, anchor_);
    else
        setSpan(anchor_, anchor_);
}

void SpanMeasure::drag(double timeMs) {
    if (!dragging_ || series().empty() || !std::isfinite(timeMs))
        return;
    if (draggingCursors_)
        setDifference(anchor_, nearest(timeMs));
    else
        setSpan(anchor_, nearest(timeMs));
}

void SpanMeasure::release(double timeMs) {
    drag(timeMs);
    dragging_ = false;
}

void SpanMeasure::dropStale(qsizetype n) {
    // The series was cleared or drawn anew with fewer samples: a selection beyond it means nothing.
    if (span_ && span_->last >= n)
        span_.reset();
    if (difference_ && std::max(difference_->first, difference_->second) >= n)
        difference_.reset();
}

void SpanMeasure::move(qsizetype samples) {
    const qsizetype n = qsizetype(series().size());
    dropStale(n);
    if (n == 0)
        return;
    if (cursorsLast_ && difference_) {
        const qsizetype lo = std::min(difference_->first, difference_->second);
        const qsizetype hi = std::max(difference_->first, difference_->second);
        const qsizetype by = std::clamp(samples, -lo, n - 1 - hi);
        setDifference(difference_->first + by, difference_->second + by);
    } else if (span_) {
        const qsizetype by = std::clamp(samples, -span_->first, n - 1 - span_->last);
        setSpan(span_->first + by, span_->last + by);
    }
}

void SpanMeasure::widen(qsizetype samples) {
    const qsizetype n = qsizetype(series().size());
    dropStale(n);
    if (n == 0)
        return;
    if (cursorsLast_ && difference_) {
        // The later cursor moves; never past the earlier one.
        const bool secondLater = difference_->second >= difference_->first;
        const qsizetype early = secondLater ? difference_->first : difference_->second;
        const qsizetype late =
            std::clamp((secondLater ? difference_->second : difference_->first) + samples, early, n - 1);
        setDifference(early, late);
    } else if (span_) {
        setSpan(span_->first, std::clamp(span_->last + samples, span_->first, n - 1));
    }
}

void SpanMeasure::clear() {
    span_.reset();
    difference_.reset();
    dragging_ = false;
    refresh();
}

void SpanMeasure::setSpan(qsizetype a, qsizetype b) {
    const PointSeries& s = series();
    Span span;
    span.slot = std::clamp(selectedSlot_ ? selectedSlot_() : 1, 1, kGraphSlots);
    span.first = std::min(a, b);
    span.last = std::max(a, b);
    const qsizetype count = span.last - span.first + 1;
    scratch_.resize(std::size_t(count));
    for (qsizetype i = 0; i < count; ++i)
        scratch_[std::size_t(i)] = s[std::size_t(span.first + i)].value;
    span.statistics = SpanStatistics::of(scratch_.data(), count);
    span.startMs = s[std::size_t(span.first)].time;
    span.endMs = s[std::size_t(span.last)].time;
    decimals_ = decimalsOf(scratch_.data(), count);
    span_ = span;
    cursorsLast_ = false;
    refresh();
}

void SpanMeasure::setDifference(qsizetype a, qsizetype b) {
    const PointSeries& s = series();
    Difference d;
    d.first = a;
    d.second = b;
    d.t1 = s[std::size_t(a)].time;
    d.v1 = s[std::size_t(a)].value;
    d.t2 = s[std::size_t(b)].time;
    d.v2 = s[std::size_t(b)].value;
    const double two[2] = {d.v1, d.v2};
    if (!span_)
        decimals_ = decimalsOf(two, 2);
    difference_ = d;
    cursorsLast_ = true;
    refresh();
}

void SpanMeasure::refresh() {
    if (op_)
        op_->showInfoLine(Page::Display, infoLine());
    emit changed();
}

QString SpanMeasure::text() const {
    const QString u = graph_.unitLabel();
    const int d = decimals_;
    QStringList lines;
    if (span_) {
        const SpanStatistics& s = span_->statistics;
        lines << QStringLiteral("Graph %1: %2 .. %3 ms")
                     .arg(span_->slot)
                     .arg(fixed(span_->startMs, 1), fixed(span_->endMs, 1))
              << QStringLiteral("samples N: %1").arg(s.count)
              << QStringLiteral("mean: %1 %2").arg(fixed(s.mean, d + 2), u)
              << QStringLiteral("standard deviation: %1 %2").arg(fixed(s.standardDeviation, d + 2), u)
              << QStringLiteral("minimum: %1 %2").arg(fixed(s.minimum, d), u)
              << QStringLiteral("maximum: %1 %2").arg(fixed(s.maximum, d), u)
              << QStringLiteral("peak-to-peak: %1 %2").arg(fixed(s.peakToPeak(), d), u)
              << QStringLiteral("duration: %1 ms").arg(fixed(span_->durationMs(), 1));
    }
    if (difference_) {
        const std::optional<double> slope = difference_->slopePerSecond();
        lines << QStringLiteral("\u0394t: %1 ms").arg(fixed(difference_->dt(), 1))
              << QStringLiteral("\u0394weight: %1 %2").arg(fixed(difference_->dv(), d), u)
              << QStringLiteral("slope: %1")
                     .arg(slope ? fixed(*slope, d + 2) + ' ' + u + QStringLiteral("/s")
                                : QStringLiteral("none (\u0394t is 0)"));
    }
    return lines.isEmpty() ? QString() : lines.join('\n') + '\n';
}

QString SpanMeasure::infoLine() const {
    const QString u = graph_.unitLabel();
    const int d = decimals_;
    QStringList parts;
    if (span_) {
        const SpanStatistics& s = span_->statistics;
        parts << QStringLiteral("Graph %1: N %2, mean %3, \u03c3 %4, min %5, max %6, p-p %7 %8 over %9 ms")
                     .arg(span_->slot)
                     .arg(s.count)
                     .arg(fixed(s.mean, d + 2), fixed(s.standardDeviation, d + 2), fixed(s.minimum, d),
                          fixed(s.maximum, d), fixed(s.peakToPeak(), d), u, fixed(span_->durationMs(), 1));
    }
    if (difference_) {
        const std::optional<double> slope = difference_->slopePerSecond();
        parts << QStringLiteral("\u0394t %1 ms, \u0394weight %2 %3, slope %4")
                     .arg(fixed(difference_->dt(), 1), fixed(difference_->dv(), d), u,
                          slope ? fixed(*slope, d + 2) + ' ' + u + QStringLiteral("/s")
                                : QStringLiteral("none"));
    }
    return parts.join(QStringLiteral("; "));
}

} // namespace tarvo
