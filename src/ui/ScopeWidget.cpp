#include "ScopeWidget.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarvo::ui {

namespace {
using Span = ScopeWidget::Span;
using DenseTrace = ScopeWidget::DenseTrace;

// The least room round the plot; larger text or wider labels take more.
constexpr int kLeftMargin = 64;
constexpr int kRightMargin = 12;
constexpr int kTopMargin = 24;
constexpr int kBottomMargin = 28;
// Between a label and the plot's frame.
constexpr int kLabelGap = 4;
// More grid lines than any picture can show: a window that would need them gets none.
constexpr double kMaxGridLines = 100;

QColor colourOf(Rgb rgb) {
    return QColor::fromRgb(static_cast<QRgb>(0xff000000u | rgb));
}

// Thin lines keep their look on a high-density screen: one pixel at normal density, as many device
// pixels as one of the widget's pixels covers on a scaled screen (a cosmetic 0-width pen would stay one
// device pixel and nearly vanish at twice the density).
QPen linePen(const QColor& colour, qreal pixelRatio, Qt::PenStyle style = Qt::SolidLine) {
    if (pixelRatio <= 1)
        return QPen(colour, 0, style);
    QPen pen(colour, pixelRatio, style);
    pen.setCosmetic(true);
    return pen;
}

// A grid step of 1, 2 or 5 times a power of ten giving about `lines` divisions.
double niceStep(double span, int lines) {
    if (!(span > 0) || !std::isfinite(span))
        return 1;
    const double raw = span / lines;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / power;
    return (f < 1.5 ? 1 : f < 3.5 ? 2 : f < 7.5 ? 5 : 10) * power;
}

// The grid lines of a step between two bounds: the index of the first and their number. Lines are counted
// by index, never by adding the step to a position, which stops advancing once the step is below the
// resolution of the positions.
struct GridLines {
    double first = 0;
    int count = 0;
};

GridLines gridLines(double low, double high, double step) {
    const double first = std::ceil(low / step);
    const double count = std::floor(high / step + 1e-9) - first + 1;
    if (!std::isfinite(count) || count < 1 || count > kMaxGridLines)
        return {};
    return {first, static_cast<int>(count)};
}

// The pixel offset of a fraction of the way across an extent of pixels.
int pixelAt(double fraction, int extent) {
    return static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * (extent - 1)));
}

QString axisText(double v, double step) {
    if (std::fabs(v) < step * 1e-9)
        v = 0;
    const int decimals = step >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step))));
    return QString::number(v, 'f', decimals);
}

bool before(const GraphPoint& a, double time) {
    return a.time < time;
}

std::size_t firstAtOrAfter(const PointSeries& s, double t) {
    return static_cast<std::size_t>(std::lower_bound(s.begin(), s.end(), t, before) - s.begin());
}

// n pixels of one colour. A frame is larger than the processor's caches: the pixels are streamed to
// memory past them instead of read in first, which takes a third of the time on a 4K screen.
void fillPixels(QRgb* p, int n, QRgb colour) {
#if defined(__SSE2__)
    for (; n > 0 && (reinterpret_cast<std::uintptr_t>(p) & 15) != 0; --n)
        *p++ = colour;
    const __m128i four = _mm_set1_epi32(static_cast<int>(colour));
    for (; n >= 16; n -= 16, p += 16) {
        auto* q = reinterpret_cast<__m128i*>(p);
        _mm_stream_si128(q, four);
        _mm_stream_si128(q + 1, four);
        _mm_stream_si128(q + 2, four);
        _mm_stream_si128(q + 3, four);
    }
    for (; n >= 4; n -= 4, p += 4)
        _mm_stream_si128(reinterpret_cast<__m128i*>(p), four);
#endif
    std::fill_n(p, n, colour);
}

// The whole picture in the background colour and the plot in the indicator background, each pixel
// written once. At a whole-number density the plot's device pixels are its own times the density, as
// the painter fills them; at another density the painter fills.
void fillBackground(QImage& image, const QRect& plot, QRgb background, QRgb indicator) {
    const qreal ratio = image.devicePixelRatio();
    const int whole = static_cast<int>(ratio);
    if (whole < 1 || whole != ratio || image.depth() != 32) {
        QPainter p(&image);
        p.fillRect(QRect(QPoint(0, 0), image.deviceIndependentSize().toSize()), QColor::fromRgb(background));
        p.fillRect(plot, QColor::fromRgb(indicator));
        return;
    }
    const QRect device =
        QRect(plot.topLeft() * whole, plot.size() * whole).intersected(QRect(QPoint(0, 0), image.size()));
    const int width = image.width();
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(bits + y * stride);
        if (device.isEmpty() || y < device.top() || y > device.bottom()) {
            fillPixels(line, width, background);
        } else {
            fillPixels(line, device.left(), background);
            fillPixels(line + device.left(), device.width(), indicator);
            fillPixels(line + device.right() + 1, width - device.right() - 1, background);
        }
    }
#if defined(__SSE2__)
    // The streamed pixels are in memory before anything draws over them.
    _mm_sfence();
#endif
}

// n pixels copied, streamed to memory as fillPixels streams them.
void streamPixels(QRgb* p, const QRgb* from, int n) {
#if defined(__SSE2__)
    for (; n > 0 && (reinterpret_cast<std::uintptr_t>(p) & 15) != 0; --n)
        *p++ = *from++;
    for (; n >= 16; n -= 16, p += 16, from += 16) {
        auto* q = reinterpret_cast<__m128i*>(p);
        const auto* f = reinterpret_cast<const __m128i*>(from);
        const __m128i a = _mm_loadu_si128(f), b = _mm_loadu_si128(f + 1);
        const __m128i c = _mm_loadu_si128(f + 2), d = _mm_loadu_si128(f + 3);
        _mm_stream_si128(q, a);
        _mm_stream_si128(q + 1, b);
        _mm_stream_si128(q + 2, c);
        _mm_stream_si128(q + 3, d);
    }
    for (; n >= 4; n -= 4, p += 4, from += 4)
        _mm_stream_si128(reinterpret_cast<__m128i*>(p),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
#endif
    std::copy_n(from, n, p);
}

// The dots of a dotted grid line as the painter draws it from a point to the point `delta` (widget pixels)
// away, as device pixels from the first point. The grid's lines of one direction differ only in where they
// stand: each direction is drawn once and its dots are put at every line's place, instead of the painter
// dashing every line anew.
std::vector<QPoint> dottedLine(QPoint delta, int ratio) {
    constexpr int margin = 2;
    const QPoint start(margin, margin);
    QImage strip(QSize(std::abs(delta.x()) + 2 * margin + 1, std::abs(delta.y()) + 2 * margin + 1) * ratio,
                 QImage::Format_RGB32);
    strip.setDevicePixelRatio(ratio);
    strip.fill(0);
    {
        QPainter p(&strip);
        p.setPen(linePen(Qt::white, ratio, Qt::DotLine));
        p.drawLine(start, start + delta);
    }
    std::vector<QPoint> dots;
    for (int y = 0; y < strip.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(strip.constScanLine(y));
        for (int x = 0; x < strip.width(); ++x)
            if (line[x] & 0xffffff)
                dots.emplace_back(QPoint(x, y) - start * ratio);
    }
    return dots;
}

// Puts the dots at a line starting at `at` (widget pixels).
void putDots(QImage& image, uchar* bits, const std::vector<QPoint>& dots, QPoint at, int ratio, QRgb colour) {
    const QPoint origin = at * ratio;
    const qsizetype stride = image.bytesPerLine();
    for (const QPoint& d : dots) {
        const int x = origin.x() + d.x(), y = origin.y() + d.y();
        if (x >= 0 && y >= 0 && x < image.width() && y < image.height())
            reinterpret_cast<QRgb*>(bits + y * stride)[x] = colour;
    }
}

// The grid lines of one direction: the dots of one line from its start (in the order of their rows), and
// where each line starts, in device pixels.
struct DottedLines {
    std::vector<QPoint> dots;
    std::vector<QPoint> starts;
};

// The plot's outline as the painter draws it with a pen as wide as the density, learnt from a small one
// it draws: near each edge (up to `reach` device pixels outside it and `zone` inside), the pixels of each
// row as offsets from the left and from the right edge, and whether the run between is filled; the rows
// between the top and the bottom zone are all alike. The bottom and right edges are the first device
// pixel past the plot. Known only when the small outline is exactly what this describes.
struct OutlineRow {
    std::vector<int> left, right;
    bool across = false;
};

struct Outline {
    int reach = 0, zone = 0;
    std::vector<OutlineRow> top, bottom; // from reach outside to zone inside
    OutlineRow middle;
    bool known = false;

    // The row at y of an outline whose edges are given, or nothing when y is beyond its reach.
    const OutlineRow* row(int y, int topEdge, int bottomEdge) const {
        if (y >= topEdge - reach && y < topEdge + zone)
            return &top[static_cast<std::size_t>(y - topEdge + reach)];
        if (y >= bottomEdge - zone && y < bottomEdge + reach)
            return &bottom[static_cast<std::size_t>(bottomEdge + reach - 1 - y)];
        if (y >= topEdge + zone && y < bottomEdge - zone)
            return &middle;
        return nullptr;
    }
};

bool holds(const std::vector<int>& offsets, int v) {
    return std::find(offsets.begin(), offsets.end(), v) != offsets.end();
}

Outline outlineOf(int ratio) {
    constexpr int margin = 3;
    const QRect rect(QPoint(margin, margin), QSize(20, 14));
    QImage strip(QSize(rect.width() + 2 * margin, rect.height() + 2 * margin) * ratio, QImage::Format_RGB32);
    strip.setDevicePixelRatio(ratio);
    strip.fill(0);
    {
        QPainter p(&strip);
        p.setPen(linePen(Qt::white, ratio));
        p.drawRect(rect.adjusted(0, 0, -1, -1));
    }
    auto lit = [&](int x, int y) {
        return (reinterpret_cast<const QRgb*>(strip.constScanLine(y))[x] & 0xffffff) != 0;
    };
    const int top = rect.top() * ratio, bottom = (rect.top() + rect.height()) * ratio;
    const int left = rect.left() * ratio, right = (rect.left() + rect.width()) * ratio;
    Outline o;
    o.reach = margin * ratio;
    o.zone = 3 * ratio;
    auto rowAt = [&](int y) {
        OutlineRow r;
        for (int d = -o.reach; d < o.zone; ++d)
            if (lit(left + d, y))
                r.left.push_back(d);
        for (int d = -o.zone; d < o.reach; ++d)
            if (lit(right + d, y))
                r.right.push_back(d);
        r.across = lit((left + right) / 2, y);
        return r;
    };
    for (int d = -o.reach; d < o.zone; ++d)
        o.top.push_back(rowAt(top + d));
    for (int d = o.reach - 1; d >= -o.zone; --d)
        o.bottom.push_back(rowAt(bottom + d));
    o.middle = rowAt((top + bottom) / 2);
    for (int y = 0; y < strip.height(); ++y) {
        const OutlineRow* r = o.row(y, top, bottom);
        for (int x = 0; x < strip.width(); ++x) {
            bool expected = false;
            if (r && x < left + o.zone)
                expected = holds(r->left, x - left);
            else if (r && x >= right - o.zone)
                expected = holds(r->right, x - right);
            else if (r)
                expected = r->across;
            if (expected != lit(x, y))
                return o;
        }
    }
    o.known = true;
    return o;
}

// The dense traces' spans, column by column.
void putSpans(QImage& image, const std::vector<Span>& spans, QRgb pixel) {
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    for (const Span& s : spans) {
        uchar* row = bits + static_cast<qsizetype>(s.top) * stride + s.x * 4;
        for (int r = s.top; r <= s.bottom; ++r, row += stride)
            std::fill_n(reinterpret_cast<QRgb*>(row), s.width, pixel);
    }
}

// Rows of a frame made at a time, in a buffer that stays in the processor's cache at a 4K screen's width.
constexpr int kBandRows = 8;

// What composeFrame puts into a frame, in device pixels.
struct FrameLayers {
    QRect plot; // inside the frame
    // The plot's edges, as the outline's offsets count from them.
    int edgeTop = 0, edgeBottom = 0, edgeLeft = 0, edgeRight = 0;
    QRgb background = 0, indicator = 0, grid = 0, axis = 0;
    const DottedLines* columns = nullptr;
    const DottedLines* rows = nullptr;
    const Outline* outline = nullptr;
};

// The frame's background, grid dots, plot outline and dense traces, in this order, made a band of rows at a
// time in a buffer and then streamed into the frame: each pixel is written to memory once, and the traces'
// spans, which run down the columns, land in the cache instead of each reading in a line of a frame larger
// than the cache. The spans are sorted by the band they start in; a span that runs on into the bands below
// stays active until drawn whole.
void composeFrame(QImage& image, const FrameLayers& f, const std::vector<DenseTrace>& traces,
                  std::vector<QRgb>& band, std::vector<Span>& sorted, std::vector<int>& starts,
                  std::array<std::vector<Span>, kGraphSlots + 1>& active) {
    const int width = image.width(), height = image.height();
    const int bands = (height + kBandRows - 1) / kBandRows;
    // Bucket t * bands + b holds trace t's spans that start in band b; afterwards starts[key] is where that
    // bucket ends.
    starts.assign(traces.size() * static_cast<std::size_t>(bands) + 1, 0);
    std::size_t total = 0;
    for (std::size_t t = 0; t < traces.size(); ++t) {
        total += traces[t].spans->size();
        for (const Span& s : *traces[t].spans)
            ++starts[t * bands + static_cast<std::size_t>(s.top / kBandRows) + 1];
    }
    for (std::size_t k = 1; k < starts.size(); ++k)
        starts[k] += starts[k - 1];
    sorted.resize(total);
    for (std::size_t t = 0; t < traces.size(); ++t)
        for (const Span& s : *traces[t].spans)
            sorted[static_cast<std::size_t>(
                starts[t * bands + static_cast<std::size_t>(s.top / kBandRows)]++)] = s;
    for (auto& a : active)
        a.clear();

    band.resize(static_cast<std::size_t>(kBandRows) * static_cast<std::size_t>(width));
    QRgb* rows = band.data();
    const Outline& o = *f.outline;
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    for (int b = 0; b < bands; ++b) {
        const int y0 = b * kBandRows, y1 = std::min(height, y0 + kBandRows);
        auto at = [&](int x, int y) -> QRgb& {
            return rows[static_cast<std::size_t>(y - y0) * static_cast<std::size_t>(width) +
                        static_cast<std::size_t>(x)];
        };
        for (int y = y0; y < y1; ++y) {
            QRgb* line = &at(0, y);
            if (f.plot.isEmpty() || y < f.plot.top() || y > f.plot.bottom()) {
                std::fill_n(line, width, f.background);
            } else {
                std::fill_n(line, f.plot.left(), f.background);
                std::fill_n(line + f.plot.left(), f.plot.width(), f.indicator);
                std::fill_n(line + f.plot.right() + 1, width - f.plot.right() - 1, f.background);
            }
        }
        for (const DottedLines* lines : {f.columns, f.rows})
            for (const QPoint& start : lines->starts) {
                auto d = std::lower_bound(lines->dots.begin(), lines->dots.end(), y0 - start.y(),
                                          [](const QPoint& dot, int row) { return dot.y() < row; });
                for (; d != lines->dots.end() && start.y() + d->y() < y1; ++d) {
                    const int x = start.x() + d->x();
                    if (x >= 0 && x < width)
                        at(x, start.y() + d->y()) = f.grid;
                }
            }
        for (int y = y0; y < y1; ++y) {
            const OutlineRow* r = o.row(y, f.edgeTop, f.edgeBottom);
            if (!r)
                continue;
            for (const int d : r->left)
                if (f.edgeLeft + d >= 0 && f.edgeLeft + d < width)
                    at(f.edgeLeft + d, y) = f.axis;
            for (const int d : r->right)
                if (f.edgeRight + d >= 0 && f.edgeRight + d < width)
                    at(f.edgeRight + d, y) = f.axis;
            const int from = std::max(0, f.edgeLeft + o.zone), to = std::min(width, f.edgeRight - o.zone);
            if (r->across && from < to)
                std::fill_n(&at(from, y), to - from, f.axis);
        }
        for (std::size_t t = 0; t < traces.size(); ++t) {
            const QRgb pixel = traces[t].pixel;
            auto put = [&](const Span& s) {
                const int r0 = std::max(s.top, y0), r1 = std::min(s.bottom, y1 - 1);
                QRgb* p = r0 <= r1 ? &at(s.x, r0) : nullptr;
                // One or two pixels, a widget's pixel at normal or twice the density: stored as they
                // are, not through a fill of a length unknown to the compiler.
                if (s.width == 1) {
                    for (int r = r0; r <= r1; ++r, p += width)
                        *p = pixel;
                } else if (s.width == 2) {
                    for (int r = r0; r <= r1; ++r, p += width)
                        p[0] = p[1] = pixel;
                } else {
                    for (int r = r0; r <= r1; ++r, p += width)
                        std::fill_n(p, s.width, pixel);
                }
                return s.bottom >= y1;
            };
            std::vector<Span>& running = active[t];
            std::size_t kept = 0;
            for (const Span& s : running)
                if (put(s))
                    running[kept++] = s;
            running.resize(kept);
            const std::size_t key = t * bands + static_cast<std::size_t>(b);
            for (int k = key == 0 ? 0 : starts[key - 1]; k < starts[key]; ++k)
                if (put(sorted[static_cast<std::size_t>(k)]))
                    running.push_back(sorted[static_cast<std::size_t>(k)]);
        }
        for (int y = y0; y < y1; ++y)
            streamPixels(reinterpret_cast<QRgb*>(bits + y * stride), &at(0, y), width);
    }
#if defined(__SSE2__)
    _mm_sfence();
#endif
}
} // namespace

ScopeWidget::ScopeWidget(GraphModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setToolTip(QStringLiteral("Y = Counts (n)    X = Milliseconds (ms)"));
    setAccessibleName(QStringLiteral("Scope"));
    connect(&model_, &GraphModel::repaintRequested, this, qOverload<>(&QWidget::update));
}

QRect ScopeWidget::plotRect(QSize size) const {
    return plotRect(size, font(), model_.left(), model_.right(), model_.bottom(), model_.top());
}

QRect ScopeWidget::plotRect(QSize size, const QFont& font, double left, double right, double bottom,
                            double top) {
    // Every label must fit whole at every zoom: the widest value label left of the plot, half the widest
    // time label right of it (the right-most one is centred on the frame's right edge), a line of text
    // above for the caption, and two below for the time labels and then the unit.
    const QFontMetrics metrics(font);
    int timeWidth = 0;
    int valueWidth = 0;
    const double width = right - left;
    if (width > 0 && std::isfinite(width)) {
        const double step = niceStep(width, 10);
        const GridLines lines = gridLines(left, right, step);
        for (int i = 0; i < lines.count; ++i)
            timeWidth =
                std::max(timeWidth, metrics.horizontalAdvance(axisText((lines.first + i) * step, step)));
    }
    const double height = top - bottom;
    if (height > 0 && std::isfinite(height)) {
        const double step = niceStep(height, 8);
        const GridLines lines = gridLines(bottom, top, step);
        for (int i = 0; i < lines.count; ++i)
            valueWidth =
                std::max(valueWidth, metrics.horizontalAdvance(axisText((lines.first + i) * step, step)));
    }
    // A view beyond any measure (numbers of hundreds of digits) keeps most of the picture for the plot.
    const int leftMargin =
        std::clamp(valueWidth + 2 * kLabelGap, kLeftMargin, std::max(kLeftMargin, size.width() / 3));
    const int rightMargin =
        std::clamp((timeWidth + 1) / 2 + kLabelGap, kRightMargin, std::max(kRightMargin, size.width() / 4));
    const int topMargin = std::max(kTopMargin, metrics.height() + 2 * kLabelGap);
    const int bottomMargin = std::max(kBottomMargin, 2 * metrics.height() + kLabelGap);
    return QRect(leftMargin, topMargin, std::max(1, size.width() - leftMargin - rightMargin),
                 std::max(1, size.height() - topMargin - bottomMargin));
}

ScopeWidget::BackgroundKey ScopeWidget::currentKey(const QImage& target) const {
    BackgroundKey k;
    k.size = target.deviceIndependentSize().toSize();
    k.pixelRatio = target.devicePixelRatio();
    k.left = model_.left();
    k.right = model_.right();
    k.bottom = model_.bottom();
    k.top = model_.top();
    k.background = model_.colour(GraphModel::Background);
    k.indicator = model_.colour(GraphModel::IndicatorBackground);
    k.axis = model_.colour(GraphModel::Axis);
    k.grid = model_.colour(GraphModel::Grid);
    k.caption = model_.caption();
    k.units = model_.unitLabel();
    k.font = font();
    return k;
}

void ScopeWidget::drawBackground(QImage& image, const BackgroundKey& k,
                                 const std::vector<DenseTrace>& traces) {
    const QRect plot = plotRect(k.size, k.font, k.left, k.right, k.bottom, k.top);
    const int lineHeight = QFontMetrics(k.font).height();
    const QColor axis = colourOf(k.axis);
    const QColor grid = colourOf(k.grid);
    const double width = k.right - k.left;
    const double height = k.top - k.bottom;
    const double xs = niceStep(width, 10);
    const double ys = niceStep(height, 8);
    const GridLines timeLines =
        width > 0 && std::isfinite(width) ? gridLines(k.left, k.right, xs) : GridLines{};
    const GridLines valueLines =
        height > 0 && std::isfinite(height) ? gridLines(k.bottom, k.top, ys) : GridLines{};
    auto timeAt = [&](int i) { return (timeLines.first + i) * xs; };
    auto valueAt = [&](int i) { return (valueLines.first + i) * ys; };
    auto columnOf = [&](int i) { return plot.left() + pixelAt((timeAt(i) - k.left) / width, plot.width()); };
    auto rowOf = [&](int i) {
        return plot.bottom() - pixelAt((valueAt(i) - k.bottom) / height, plot.height());
    };

    // At a whole-number density the background and the grid's dots are put straight into the pixels, and
    // with dense traces to draw the plot's outline and the traces too, a band of rows at a time; elsewhere
    // the painter draws them. Without traces the background is streamed into the frame at once.
    const int whole = static_cast<int>(k.pixelRatio);
    const bool direct = whole >= 1 && whole == k.pixelRatio && image.depth() == 32;
    const Outline outline = direct && !traces.empty() ? outlineOf(whole) : Outline{};
    DottedLines columns, rows;
    if (direct && timeLines.count > 0) {
        columns.dots = dottedLine(QPoint(0, plot.height() - 1), whole);
        for (int i = 0; i < timeLines.count; ++i)
            columns.starts.push_back(QPoint(columnOf(i), plot.top()) * whole);
    }
    if (direct && valueLines.count > 0) {
        rows.dots = dottedLine(QPoint(plot.width() - 1, 0), whole);
        for (int i = 0; i < valueLines.count; ++i)
            rows.starts.push_back(QPoint(plot.left(), rowOf(i)) * whole);
    }
    const bool composed =
        outline.known && plot.width() * whole > 2 * outline.zone && plot.height() * whole > 2 * outline.zone;
    if (composed) {
        FrameLayers f;
        f.plot = QRect(plot.topLeft() * whole, plot.size() * whole).intersected(image.rect());
        f.edgeTop = plot.top() * whole;
        f.edgeBottom = (plot.top() + plot.height()) * whole;
        f.edgeLeft = plot.left() * whole;
        f.edgeRight = (plot.left() + plot.width()) * whole;
        f.background = colourOf(k.background).rgb();
        f.indicator = colourOf(k.indicator).rgb();
        f.grid = grid.rgb();
        f.axis = axis.rgb();
        f.columns = &columns;
        f.rows = &rows;
        f.outline = &outline;
        composeFrame(image, f, traces, band_, bandSpans_, bandStarts_, activeSpans_);
    } else {
        fillBackground(image, plot, colourOf(k.background).rgb(), colourOf(k.indicator).rgb());
        if (direct) {
            uchar* bits = image.bits();
            for (const DottedLines& lines : {columns, rows})
                for (const QPoint& start : lines.starts)
                    putDots(image, bits, lines.dots, start / whole, whole, grid.rgb());
        }
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setFont(font());
    if (!direct) {
        p.setPen(linePen(grid, k.pixelRatio, Qt::DotLine));
        for (int i = 0; i < timeLines.count; ++i)
            p.drawLine(columnOf(i), plot.top(), columnOf(i), plot.bottom());
        for (int i = 0; i < valueLines.count; ++i)
            p.drawLine(plot.left(), rowOf(i), plot.right(), rowOf(i));
    }
    if (!composed) {
        p.setPen(linePen(axis, k.pixelRatio));
        p.drawRect(plot.adjusted(0, 0, -1, -1));
    }
    // The labels lie outside the plot, where nothing else is drawn.
    p.setPen(axis);
    for (int i = 0; i < timeLines.count; ++i)
        p.drawText(QRect(columnOf(i) - 200, plot.bottom() + 2, 400, lineHeight),
                   Qt::AlignHCenter | Qt::AlignTop, axisText(timeAt(i), xs));
    for (int i = 0; i < valueLines.count; ++i)
        p.drawText(QRect(0, rowOf(i) - lineHeight, plot.left() - kLabelGap, 2 * lineHeight),
                   Qt::AlignRight | Qt::AlignVCenter, axisText(valueAt(i), ys));
    // A name longer than the scope is wide ends in an ellipsis instead of losing both its ends.
    p.drawText(QRect(0, 0, k.size.width(), plot.top()), Qt::AlignCenter,
               p.fontMetrics().elidedText(k.caption, Qt::ElideRight, k.size.width() - 2 * kLabelGap));
    p.drawText(QRect(kLabelGap, 0, plot.left(), plot.top()), Qt::AlignLeft | Qt::AlignVCenter, k.units);
    // Under the time labels, ending where the right-most one can end.
    p.drawText(QRect(0, plot.bottom() + 2 + lineHeight, k.size.width() - kLabelGap, lineHeight),
               Qt::AlignRight | Qt::AlignTop, QStringLiteral("ms"));
    p.end();
    if (!composed)
        for (const DenseTrace& t : traces)
            putSpans(image, *t.spans, t.pixel);
}

namespace {
// The points of a series drawn in a window from left to right: one either side of it, so that lines run to
// its edges. False when there are none.
bool pointsToDraw(const PointSeries& s, double left, double right, std::size_t& first, std::size_t& last) {
    first = firstAtOrAfter(s, left);
    last = firstAtOrAfter(s, right);
    if (first > 0)
        --first;
    if (last < s.size())
        ++last;
    return first < last;
}
} // namespace

ScopeWidget::TraceShape ScopeWidget::traceSpans(const QImage& image, const QRect& plot, const PointSeries& s,
                                                std::vector<Span>& spans) const {
    spans.clear();
    if (s.empty())
        return TraceShape::Nothing;
    const double left = model_.left(), right = model_.right();
    const double bottom = model_.bottom(), top = model_.top();
    const double width = right - left;
    const double height = top - bottom;
    if (!(width > 0) || !std::isfinite(width) || !std::isfinite(height))
        return TraceShape::Nothing;
    const int w = plot.width();
    const int h = plot.height();
    std::size_t first = 0, last = 0;
    if (!pointsToDraw(s, left, right, first, last))
        return TraceShape::Nothing;
    if (last - first <= static_cast<std::size_t>(2 * w))
        return TraceShape::Sparse;
    // A window of height 0 puts everything at its middle.
    const double yScale = height > 0 ? (h - 1) / height : 0;
    const double yMiddle = height > 0 ? 0 : (h - 1) / 2.0;
    auto rowOf = [&](double v) {
        const double y = height > 0 ? (top - v) * yScale : (v > top ? -1 : v < top ? h : yMiddle);
        return static_cast<int>(std::clamp(y, -1.0, static_cast<double>(h)));
    };
    const GraphPoint* pts = s.begin();
    const bool lines = model_.drawStyle() == GraphModel::DrawStyle::Lines;

    // Dense: one vertical span per device pixel column from the column's smallest to its largest value,
    // joined to the previous column's last value when drawn as lines. On a scaled screen the columns are
    // the device's and each span is as thick as one of the widget's pixels.
    const qreal ratio = image.devicePixelRatio();
    const int thickness = std::max(1, qRound(ratio));
    const QRect device = QRect(QPoint(qRound(plot.left() * ratio), qRound(plot.top() * ratio)),
                               QSize(qRound(plot.width() * ratio), qRound(plot.height() * ratio)))
                             .intersected(image.rect());
    if (device.isEmpty())
        return TraceShape::Nothing;
    const int deviceWidth = device.width();
    const int deviceHeight = device.height();
    const double deviceScale = ratio == 1 ? 1 : static_cast<double>(deviceHeight - 1) / std::max(1, h - 1);
    // The device row of each of the widget's rows (-1 .. h), worked out once instead of in every column.
    std::vector<int> deviceRows(static_cast<std::size_t>(h) + 2);
    for (int r = -1; r <= h; ++r)
        deviceRows[static_cast<std::size_t>(r + 1)] =
            ratio == 1 ? r : static_cast<int>(std::lround(r * deviceScale));
    auto deviceRow = [&](double v) { return deviceRows[static_cast<std::size_t>(rowOf(v) + 1)]; };
    const double columnWidth = width / deviceWidth;
    std::size_t i = first;
    int previousRow = INT_MIN;
    for (int c = 0; c < deviceWidth && i < last; ++c) {
        // The points of the column, read from the series' envelope: a few blocks whatever their number.
        const double edge = c == deviceWidth - 1 ? HUGE_VAL : left + (c + 1) * columnWidth;
        // Where a column two further on is likely to end, judged from the columns so far.
        if (c > 0)
            s.prefetch(i + 2 * (i - first) / static_cast<std::size_t>(c));
        double mn = 0, mx = 0;
        const std::size_t end = s.valuesBefore(i, last, edge, mn, mx);
        if (end == i)
            continue;
        i = end;
        const double lastValue = pts[end - 1].value;
        // Only NaN values: nothing to draw, nothing to join to.
        if (!(mn <= mx)) {
            previousRow = INT_MIN;
            continue;
        }
        int r0 = deviceRow(mx), r1 = deviceRow(mn);
        if (lines && previousRow != INT_MIN) {
            r0 = std::min(r0, previousRow);
            r1 = std::max(r1, previousRow);
        }
        previousRow = std::isnan(lastValue) ? INT_MIN : deviceRow(lastValue);
        r0 = std::max(r0, 0);
        r1 = std::min(r1 + thickness - 1, deviceHeight - 1);
        if (r0 <= r1)
            spans.push_back({device.left() + c, device.top() + r0, device.top() + r1,
                             std::min(thickness, deviceWidth - c)});
    }
    return TraceShape::Dense;
}

void ScopeWidget::drawSparseTrace(QImage& image, const QRect& plot, const PointSeries& s, Rgb colour) const {
    // Exact lines or points, without anti-aliasing.
    const double left = model_.left(), right = model_.right();
    const double bottom = model_.bottom(), top = model_.top();
    const double width = right - left;
    const double height = top - bottom;
    const int w = plot.width();
    const int h = plot.height();
    const double yScale = height > 0 ? (h - 1) / height : 0;
    const double yMiddle = height > 0 ? 0 : (h - 1) / 2.0;
    auto rowOf = [&](double v) {
        const double y = height > 0 ? (top - v) * yScale : (v > top ? -1 : v < top ? h : yMiddle);
        return static_cast<int>(std::clamp(y, -1.0, static_cast<double>(h)));
    };
    std::size_t first = 0, last = 0;
    if (!pointsToDraw(s, left, right, first, last))
        return;
    const GraphPoint* pts = s.begin();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setClipRect(plot);
    p.setPen(linePen(colourOf(colour), image.devicePixelRatio()));
    QPolygonF poly;
    poly.reserve(static_cast<qsizetype>(last - first));
    for (std::size_t i = first; i < last; ++i)
        poly << QPointF(plot.left() + (pts[i].time - left) / width * (w - 1),
                        plot.top() + rowOf(pts[i].value));
    if (model_.drawStyle() == GraphModel::DrawStyle::Lines)
        p.drawPolyline(poly);
    else
        p.drawPoints(poly);
}

void ScopeWidget::drawTrace(QImage& image, const QRect& plot, const PointSeries& s, Rgb colour) {
    std::vector<Span>& spans = spans_[kGraphSlots];
    switch (traceSpans(image, plot, s, spans)) {
    case TraceShape::Sparse:
        drawSparseTrace(image, plot, s, colour);
        break;
    case TraceShape::Dense:
        putSpans(image, spans, 0xff000000u | colour);
        break;
    case TraceShape::Nothing:
        break;
    }
}

QPointF ScopeWidget::toPixel(QPointF world, const QRect& plot) const {
    const double width = model_.right() - model_.left();
    const double height = model_.top() - model_.bottom();
    const double x = plot.left() + (width > 0 ? (world.x() - model_.left()) / width * (plot.width() - 1) : 0);
    const double y = plot.top() + (height > 0 ? (model_.top() - world.y()) / height * (plot.height() - 1)
                                              : (plot.height() - 1) / 2.0);
    return {x, y};
}

QPointF ScopeWidget::toWorld(QPointF pixel) const {
    const QRect plot = plotRect(size());
    const double width = model_.right() - model_.left();
    const double height = model_.top() - model_.bottom();
    return {model_.left() + (pixel.x() - plot.left()) / std::max(1, plot.width() - 1) * width,
            model_.top() - (pixel.y() - plot.top()) / std::max(1, plot.height() - 1) * height};
}

void ScopeWidget::drawOverlays(QImage& image, const QRect& plot) const {
    // Markers and drawings sit at world positions, which a window without finite extents has none for.
    const bool finite =
        std::isfinite(model_.right() - model_.left()) && std::isfinite(model_.top() - model_.bottom());
    const bool markers = finite && !model_.markers().isEmpty();
    const bool pencil = finite && (!model_.pencilDrawings().isEmpty() || stroke_.size() > 1);
    const bool cross = model_.mouseMode() == GraphModel::MouseMode::Cross && plot.contains(cursor_);
    if (!markers && !pencil && !cross)
        return;
    QPainter p(&image);
    p.setClipRect(plot);
    const QColor mark = colourOf(model_.colour(GraphModel::Marks));
    if (markers) {
        const double left = model_.left(), right = model_.right();
        p.setPen(linePen(mark, image.devicePixelRatio(), Qt::DashLine));
        int textRow = 0;
        for (const GraphMarker& m : model_.markers()) {
            if (m.time < left || m.time > right)
                continue;
            const int x = static_cast<int>(toPixel({m.time, 0}, plot).x());
            p.drawLine(x, plot.top(), x, plot.bottom());
            p.drawText(x + 2, plot.top() + 12 + 12 * (textRow++ % 4), m.text);
        }
    }
    if (pencil) {
        p.setPen(linePen(mark, image.devicePixelRatio()));
        auto draw = [&](const GraphModel::Stroke& s) {
            QPolygonF poly;
            for (const QPointF& w : s)
                poly << toPixel(w, plot);
            p.drawPolyline(poly);
        };
        for (const GraphModel::Stroke& s : model_.pencilDrawings())
            draw(s);
        if (stroke_.size() > 1)
            draw(stroke_);
    }
    if (cross) {
        p.setPen(linePen(colourOf(model_.colour(GraphModel::Axis)), image.devicePixelRatio()));
        p.drawLine(plot.left(), cursor_.y(), plot.right(), cursor_.y());
        p.drawLine(cursor_.x(), plot.top(), cursor_.x(), plot.bottom());
        const QPointF w = toWorld(cursor_);
        p.drawText(cursor_ + QPoint(6, -6),
                   QStringLiteral("%1 ms  %2").arg(w.x(), 0, 'f', 1).arg(w.y(), 0, 'g', 7));
    }
}

void ScopeWidget::render(QImage& target) {
    // A frame without pixels (a widget not yet laid out) has nothing to draw.
    if (target.isNull())
        return;
    if (target.depth() != 32) {
        // The traces are put into pixels of four bytes: another format gets the picture converted.
        QImage frame(target.size(), QImage::Format_RGB32);
        frame.setDevicePixelRatio(target.devicePixelRatio());
        render(frame);
        target = frame.convertToFormat(target.format());
        return;
    }
    const BackgroundKey key = currentKey(target);
    const QRect plot = plotRect(key.size, key.font, key.left, key.right, key.bottom, key.top);
    SlotLayerKey layer{key, {}, model_.drawStyle()};
    for (int slot = 1; slot <= kGraphSlots; ++slot)
        layer.revisions[static_cast<std::size_t>(slot - 1)] = model_.series(slot).revision();
    auto drawSlots = [&](QImage& image) {
        // The dense slots before the first sparse one go into the pixels with the background; the painter
        // draws a sparse one over them, and the slots after it go on top in their order.
        traces_.clear();
        int slot = 1;
        for (; slot <= kGraphSlots; ++slot) {
            std::vector<Span>& spans = spans_[static_cast<std::size_t>(slot - 1)];
            const TraceShape shape = traceSpans(image, plot, model_.series(slot), spans);
            if (shape == TraceShape::Sparse)
                break;
            if (shape == TraceShape::Dense)
                traces_.push_back({&spans, 0xff000000u | kSeriesColours[slot - 1]});
        }
        drawBackground(image, key, traces_);
        for (; slot <= kGraphSlots; ++slot)
            drawTrace(image, plot, model_.series(slot), kSeriesColours[slot - 1]);
    };
    auto sameLayout = [&](const QImage& a) {
        return a.size() == target.size() && a.format() == target.format() &&
               a.bytesPerLine() == target.bytesPerLine();
    };
    if (!(layer == previousLayerKey_)) {
        // A new view, size or slots (zoom, pan, a page turned, a recording drawn): drawn straight into the
        // frame, nothing copied.
        drawSlots(target);
    } else {
        // The same background and slots as the frame before (a RUN's live frames, the cross-hair, a pencil
        // stroke): they are kept from the second such frame on, and each frame after copies them and adds
        // only the live trace and the overlays.
        if (slotLayer_.isNull() || !(layer == slotLayerKey_) || !sameLayout(slotLayer_)) {
            if (!sameLayout(slotLayer_))
                slotLayer_ = QImage(target.size(), target.format());
            slotLayer_.setDevicePixelRatio(key.pixelRatio);
            drawSlots(slotLayer_);
            slotLayerKey_ = layer;
        }
        std::memcpy(target.bits(), slotLayer_.constBits(),
                    static_cast<std::size_t>(slotLayer_.sizeInBytes()));
    }
    previousLayerKey_ = layer;
    drawTrace(target, plot, model_.liveTrace(), model_.colour(GraphModel::Graphic));
    drawOverlays(target, plot);
    ++frames_;
}

QImage ScopeWidget::picture() {
    QImage image(size(), QImage::Format_RGB32);
    render(image);
    return image;
}

void ScopeWidget::paintEvent(QPaintEvent*) {
    // Drawn at the screen's own density, so texts and lines stay sharp on a scaled screen; the saved and
    // printed picture (picture()) keeps the widget's size.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (frame_.size() != pixels || frame_.devicePixelRatio() != ratio) {
        frame_ = QImage(pixels, QImage::Format_RGB32);
        frame_.setDevicePixelRatio(ratio);
    }
    render(frame_);
    QPainter p(this);
    p.drawImage(0, 0, frame_);
}

void ScopeWidget::zoomAt(QPointF pixel, double fx, double fy) {
    const QPointF c = toWorld(pixel);
    model_.viewTimeWindow(c.x() - (c.x() - model_.left()) * fx, c.x() + (model_.right() - c.x()) * fx);
    model_.viewValueWindow(c.y() - (c.y() - model_.bottom()) * fy, c.y() + (model_.top() - c.y()) * fy);
    model_.repaint();
}

void ScopeWidget::mousePressEvent(QMouseEvent* e) {
    if (model_.locked())
        return;
    dragging_ = true;
    pressPos_ = lastPos_ = e->position().toPoint();
    using M = GraphModel::MouseMode;
    const M mode = model_.mouseMode();
    stroke_.clear();
    strokeIsLine_ = mode == M::Line || (mode == M::CombinedDraw && (e->modifiers() & Qt::ShiftModifier));
    if (mode == M::Pencil || mode == M::Line || mode == M::CombinedDraw)
        stroke_ << toWorld(pressPos_);
}

void ScopeWidget::mouseMoveEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    using M = GraphModel::MouseMode;
    const M mode = model_.mouseMode();
    if (mode == M::Cross) {
        cursor_ = pos;
        update();
    }
    if (!dragging_ || model_.locked())
        return;
    const QRect plot = plotRect(size());
    const double dx =
        double(pos.x() - lastPos_.x()) / std::max(1, plot.width() - 1) * (model_.right() - model_.left());
    const double dy =
        double(pos.y() - lastPos_.y()) / std::max(1, plot.height() - 1) * (model_.top() - model_.bottom());
    switch (mode) {
    case M::Pan:
        model_.viewTimeWindow(model_.left() - dx, model_.right() - dx);
        model_.viewValueWindow(model_.bottom() + dy, model_.top() + dy);
        update();
        break;
    case M::Pencil:
    case M::CombinedDraw:
    case M::Line:
        if (strokeIsLine_) {
            stroke_.resize(1);
            stroke_ << toWorld(pos);
        } else {
            stroke_ << toWorld(pos);
        }
        update();
        break;
    case M::Scale:
    case M::ScaleX:
    case M::ScaleY:
        // The rectangle the release will zoom into.
        if (!rubberBand_)
            rubberBand_ = new QRubberBand(QRubberBand::Rectangle, this);
        rubberBand_->setGeometry(QRect(pressPos_, pos).normalized());
        rubberBand_->show();
        break;
    case M::Cross:
    case M::Nothing:
    case M::Measure: // the measure tool takes these events before the scope
        break;
    }
    lastPos_ = pos;
}

void ScopeWidget::mouseReleaseEvent(QMouseEvent* e) {
    if (!dragging_)
        return;
    dragging_ = false;
    if (rubberBand_)
        rubberBand_->hide();
    if (model_.locked())
        return;
    using M = GraphModel::MouseMode;
    const M mode = model_.mouseMode();
    const QPoint pos = e->position().toPoint();
    if (stroke_.size() > 1) {
        model_.addPencilDrawing(stroke_);
        stroke_.clear();
        model_.repaint();
        return;
    }
    stroke_.clear();
    const bool scaleX = mode == M::Scale || mode == M::ScaleX;
    const bool scaleY = mode == M::Scale || mode == M::ScaleY;
    if (!scaleX && !scaleY)
        return;
    // A drag zooms into the dragged rectangle, a drag to the upper left zooms out; a click does nothing.
    const QRect r = QRect(pressPos_, pos).normalized();
    if (r.width() < 4 && r.height() < 4)
        return;
    if (pos.x() < pressPos_.x() && pos.y() < pressPos_.y()) {
        zoomAt(QRectF(r).center(), scaleX ? 2 : 1, scaleY ? 2 : 1);
        return;
    }
    const QPointF a = toWorld(r.topLeft()), b = toWorld(r.bottomRight());
    if (scaleX && r.width() >= 4)
        model_.viewTimeWindow(a.x(), b.x());
    if (scaleY && r.height() >= 4)
        model_.viewValueWindow(b.y(), a.y());
    model_.repaint();
}

void ScopeWidget::wheelEvent(QWheelEvent* e) {
    using M = GraphModel::MouseMode;
    const M mode = model_.mouseMode();
    if (model_.locked() || !(mode == M::Scale || mode == M::ScaleX || mode == M::ScaleY))
        return;
    const double f = e->angleDelta().y() > 0 ? 0.8 : 1.25;
    zoomAt(e->position(), mode == M::ScaleY ? 1 : f, mode == M::ScaleX ? 1 : f);
}

void ScopeWidget::leaveEvent(QEvent*) {
    if (cursor_.x() >= 0) {
        cursor_ = {-1, -1};
        update();
    }
}

} // namespace tarvo::ui
