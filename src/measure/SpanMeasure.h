#pragma once

#include "GraphModel.h"
#include "SpanStatistics.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace tarvo {

class Operator;

// The scope's Measure mode without the widget: a span of the selected graph dragged with the mouse (its
// noise figures) and a pair of cursors dragged with Shift held (the difference between two samples). Both
// snap to the samples of the selected slot's series, or of the live trace while that series is empty.
// The keys move whichever was made last, one sample at a time. The figures go to the Display page's
// information line on every change.
class SpanMeasure : public QObject {
    Q_OBJECT
public:
    struct Span {
        int slot = 0;
        qsizetype first = 0, last = 0; // sample indices, first <= last
        double startMs = 0, endMs = 0;
        SpanStatistics statistics;
        double durationMs() const { return endMs - startMs; }
    };
    struct Difference {
        qsizetype first = 0, second = 0;
        double t1 = 0, v1 = 0, t2 = 0, v2 = 0;
        double dt() const { return t2 - t1; }
        double dv() const { return v2 - v1; }
        // Weight units per second; nothing for two samples at the same time.
        std::optional<double> slopePerSecond() const {
            return dt() != 0 ? std::optional<double>(dv() / dt() * 1000.0) : std::nullopt;
        }
    };

    // op may be null: then no information line is written.
    SpanMeasure(GraphModel& graph, std::function<int()> selectedSlot, Operator* op,
                QObject* parent = nullptr);

    // Mouse, in world milliseconds. cursors: the drag sets the two cursors instead of the span.
    void press(double timeMs, bool cursors);
    void drag(double timeMs);
    void release(double timeMs);
    // Keys: the whole selection by samples (Left/Right), or its later edge (Shift+Left/Right).
    void move(qsizetype samples);
    void widen(qsizetype samples);
    void clear();

    const std::optional<Span>& span() const { return span_; }
    const std::optional<Difference>& difference() const { return difference_; }
    // Digits after the point the samples were sent with (the device's decimals), at most 5.
    int decimals() const { return decimals_; }
    // The figures one a line, as the panel shows them and Ctrl+C copies them; empty without a selection.
    QString text() const;
    // The same on one line.
    QString infoLine() const;

    // The fewest digits after the point (at most 5) that write each of the first 2000 values as the
    // recording keeps them (single floats, to about two units of their last place).
    static int decimalsOf(const double* values, qsizetype count);

signals:
    void changed();

private:
    const PointSeries& series() const;
    qsizetype nearest(double timeMs) const;
    void setSpan(qsizetype a, qsizetype b);
    void setDifference(qsizetype a, qsizetype b);
    void refresh();
    void dropStale(qsizetype n);

    GraphModel& graph_;
    std::function<int()> selectedSlot_;
    Operator* op_ = nullptr;
    std::optional<Span> span_;
    std::optional<Difference> difference_;
    bool dragging_ = false;
    bool draggingCursors_ = false;
    bool cursorsLast_ = false;
    qsizetype anchor_ = 0;
    int decimals_ = 0;
    std::vector<double> scratch_;
};

} // namespace tarvo
