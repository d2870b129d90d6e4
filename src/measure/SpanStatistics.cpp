#include "SpanStatistics.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

template <typename T> SpanStatistics statisticsOf(const T* values, qint64 count) {
    SpanStatistics s;
    if (!values || count <= 0)
        return s;
    s.count = count;
    const double shift = values[0];
    // Independent lanes, so that the additions and comparisons of neighbouring values need not wait for
    // each other (and the compiler may pack them); summed at the end.
    constexpr int kLanes = 8;
    double sum[kLanes] = {};
    double squares[kLanes] = {};
    T lo[kLanes], hi[kLanes];
    for (int k = 0; k < kLanes; ++k)
        lo[k] = hi[k] = values[0];
    qint64 i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        for (int k = 0; k < kLanes; ++k) {
            const T v = values[i + k];
            const double d = double(v) - shift;
            sum[k] += d;
            squares[k] += d * d;
            lo[k] = v < lo[k] ? v : lo[k];
            hi[k] = v > hi[k] ? v : hi[k];
        }
    }
    for (; i < count; ++i) {
        const T v = values[i];
        const double d = double(v) - shift;
        sum[0] += d;
        squares[0] += d * d;
        lo[0] = v < lo[0] ? v : lo[0];
        hi[0] = v > hi[0] ? v : hi[0];
    }
    double total = 0, totalSquares = 0;
    T low = lo[0], high = hi[0];
    for (int k = 0; k < kLanes; ++k) {
        total += sum[k];
        totalSquares += squares[k];
        low = std::min(low, lo[k]);
        high = std::max(high, hi[k]);
    }
    const double n = static_cast<double>(count);
    s.mean = shift + total / n;
    if (count > 1)
        s.standardDeviation = std::sqrt(std::max(0.0, (totalSquares - total * total / n) / (n - 1)));
    s.minimum = low;
    s.maximum = high;
    return s;
}

// The time at which the values first reach level, going in the step's direction, between two samples
// by straight interpolation; from index `from` on. Nothing when they never do.
std::optional<std::pair<double, qsizetype>> crossing(const std::vector<double>& t,
                                                     const std::vector<double>& v, qsizetype from,
                                                     double level, bool rising) {
    for (qsizetype i = std::max<qsizetype>(from, 1); i < qsizetype(v.size()); ++i) {
        const bool reached = rising ? v[i] >= level : v[i] <= level;
        if (!reached)
            continue;
        const double a = v[i - 1], b = v[i];
        const double f = b != a ? std::clamp((level - a) / (b - a), 0.0, 1.0) : 1.0;
        return std::make_pair(t[i - 1] + f * (t[i] - t[i - 1]), i);
    }
    return std::nullopt;
}

} // namespace

SpanStatistics SpanStatistics::of(const float* values, qint64 count) {
    return statisticsOf(values, count);
}

SpanStatistics SpanStatistics::of(const double* values, qint64 count) {
    return statisticsOf(values, count);
}

std::optional<StepResponse> StepResponse::of(const std::vector<double>& t, const std::vector<double>& v,
                                             double bandFraction) {
    const qsizetype n = qsizetype(std::min(t.size(), v.size()));
    if (n < 20 || !(bandFraction > 0))
        return std::nullopt;
    const qsizetype tenth = std::max<qsizetype>(2, n / 10);
    const SpanStatistics before = SpanStatistics::of(v.data(), tenth);
    const SpanStatistics after = SpanStatistics::of(v.data() + (n - tenth), tenth);
    StepResponse r;
    r.initial = before.mean;
    r.final = after.mean;
    r.bandFraction = bandFraction;
    const double size = r.size();
    const double noise = std::max(before.standardDeviation, after.standardDeviation);
    if (size == 0 || std::fabs(size) <= 6 * noise)
        return std::nullopt;
    const bool rising = size > 0;
    const auto at10 = crossing(t, v, 0, r.initial + 0.1 * size, rising);
    if (!at10)
        return std::nullopt;
    const auto at90 = crossing(t, v, at10->second, r.initial + 0.9 * size, rising);
    if (!at90)
        return std::nullopt;
    r.startMs = at10->first;
    r.riseMs = at90->first - at10->first;
    // Settled from the sample after the last one outside the band.
    const double band = bandFraction * std::fabs(size);
    qsizetype lastOutside = at10->second;
    double peak = v[at10->second];
    for (qsizetype i = at10->second; i < n; ++i) {
        if (std::fabs(v[i] - r.final) > band)
            lastOutside = i;
        peak = rising ? std::max(peak, v[i]) : std::min(peak, v[i]);
    }
    const qsizetype settled = std::min(lastOutside + 1, n - 1);
    double settledMs = t[settled];
    // Between the last sample outside and the first one inside for good, where the band's edge was
    // crossed: the figure then does not wander by up to a sample period with where the samples fell.
    const double outside = std::fabs(v[lastOutside] - r.final) - band;
    const double inside = std::fabs(v[settled] - r.final) - band;
    if (settled > lastOutside && outside > 0 && inside <= 0)
        settledMs = t[lastOutside] + outside / (outside - inside) * (t[settled] - t[lastOutside]);
    r.settlingMs = std::max(0.0, settledMs - r.startMs);
    r.overshootPercent = std::max(0.0, (rising ? peak - r.final : r.final - peak) / std::fabs(size) * 100);
    return r;
}

std::optional<DataFileSamples> DataFileSamples::parse(const QByteArray& bytes, QString* error) {
    auto fail = [&](qsizetype line, const QString& why) -> std::optional<DataFileSamples> {
        if (error)
            *error = QStringLiteral("line %1: %2").arg(line).arg(why);
        return std::nullopt;
    };
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    if (lines.size() < 2)
        return fail(lines.size() + 1, QStringLiteral("no header line \"GraphData\" or \"DoseData\""));
    const QByteArray& header = lines[1];
    const QByteArray word = header.startsWith("GraphData")  ? "GraphData"
                            : header.startsWith("DoseData") ? "DoseData"
                                                            : "";
    if (word.isEmpty() || !header.endsWith("Milliseconds") ||
        header.size() <= word.size() + qsizetype(sizeof("Milliseconds")) - 1)
        return fail(2,
                    QStringLiteral("not a graph data file: the header is not \"GraphData\" or \"DoseData\", "
                                   "a separator and \"Milliseconds\""));
    const QByteArray separator = header.mid(word.size(), header.size() - word.size() - 12);
    if (separator.size() != 1)
        return fail(2, QStringLiteral("the separator \"%1\" is not one character")
                           .arg(QString::fromLocal8Bit(separator)));
    DataFileSamples samples;
    samples.name = QString::fromLocal8Bit(lines[0]);
    auto number = [&](QByteArray text, double* out, int* decimals) {
        text = text.trimmed();
        // A decimal comma, when the comma is not what separates the fields.
        if (separator != ",")
            text.replace(',', '.');
        bool ok = false;
        *out = text.toDouble(&ok);
        if (ok && decimals) {
            const qsizetype point = text.indexOf('.');
            const qsizetype exponent = std::max(text.indexOf('e'), text.indexOf('E'));
            if (point >= 0 && exponent < 0)
                *decimals = std::max(*decimals, int(std::min<qsizetype>(6, text.size() - point - 1)));
        }
        return ok && std::isfinite(*out);
    };
    for (qsizetype i = 2; i < lines.size(); ++i) {
        if (lines[i].trimmed().isEmpty())
            continue;
        const QList<QByteArray> fields = lines[i].split(separator.front());
        if (fields.size() != 2)
            return fail(i + 1, QStringLiteral("not a value and a time separated by \"%1\"")
                                   .arg(QString::fromLocal8Bit(separator)));
        double value = 0, time = 0;
        if (!number(fields[0], &value, &samples.decimals) || !number(fields[1], &time, nullptr))
            return fail(i + 1, QStringLiteral("not a number: \"%1\"").arg(QString::fromLocal8Bit(lines[i])));
        if (!samples.timesMs.empty() && time < samples.timesMs.back())
            return fail(i + 1, QStringLiteral("the time runs backwards"));
        samples.values.push_back(value);
        samples.timesMs.push_back(time);
    }
    if (samples.values.empty())
        return fail(lines.size(), QStringLiteral("no samples"));
    return samples;
}

} // namespace tarvo
