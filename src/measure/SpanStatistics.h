#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>
#include <vector>

namespace tarvo {

// Noise figures of a span of recorded values: how many, where they sit and how far they wander.
struct SpanStatistics {
    qint64 count = 0;
    double mean = 0;
    // With n - 1 in the denominator; 0 for fewer than two values.
    double standardDeviation = 0;
    double minimum = 0;
    double maximum = 0;
    double peakToPeak() const { return maximum - minimum; }

    // One pass over the values. The sums are taken about the first value, so a small noise on a large
    // weight keeps its digits.
    static SpanStatistics of(const float* values, qint64 count);
    static SpanStatistics of(const double* values, qint64 count);
};

// How a recording that holds a load put on or taken off settles: the levels before and after, the
// 10..90 % rise time, the time to stay within a band around the final level, and the overshoot.
struct StepResponse {
    double initial = 0; // mean of the first tenth of the samples
    double final = 0;   // mean of the last tenth
    double size() const { return final - initial; }
    double startMs = 0;          // where the value crossed 10 % of the step
    double riseMs = 0;           // from the 10 % to the 90 % crossing
    double settlingMs = 0;       // from the 10 % crossing until it stays within the band (interpolated)
    double overshootPercent = 0; // beyond the final level in the step's direction, in % of the step
    double bandFraction = 0;     // the band's half width as a fraction of the step

    // Nothing when the record holds no step: fewer than 20 samples, or levels that differ by less than
    // six times the noise of the quiet parts (or not at all). Times are milliseconds, non-decreasing.
    static std::optional<StepResponse> of(const std::vector<double>& timesMs,
                                          const std::vector<double>& values, double bandFraction = 0.001);
};

// A graph or dosing data file as "Save graph as *.csv file" writes it: its name line, a header
// "GraphData" or "DoseData" + separator + "Milliseconds", then value + separator + time rows. Numbers
// may carry a decimal comma (a comma-decimal locale with another separator).
struct DataFileSamples {
    QString name;
    std::vector<double> timesMs;
    std::vector<double> values;
    int decimals = 0; // the most digits after the decimal separator among the values

    // Nothing, with the reason in error ("line 7: ..."), for a file that is not such a data file.
    static std::optional<DataFileSamples> parse(const QByteArray& bytes, QString* error);
};

} // namespace tarvo
