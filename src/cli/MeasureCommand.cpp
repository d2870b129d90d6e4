#include "base/NumberText.h"
#include "base/TerminationSignals.h"
#include "cli/CliSession.h"
#include "cli/SlotRecording.h"
#include "cli/Subcommands.h"
#include "link/ComPortMap.h"
#include "measure/RecordingMemory.h"
#include "measure/SpanMeasure.h"
#include "measure/SpanStatistics.h"
#include "measure/StreamDispatcher.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace tarvo::cli {

namespace {

// A saved recording is at most five times 500,000 rows; anything far larger is not one.
constexpr qint64 kLargestFile = 256LL * 1024 * 1024;

int measureUsageError(const QString& text) {
    std::fprintf(stderr, "tarvo-cli measure: %s\n", text.toLocal8Bit().constData());
    return ExitUsage;
}

int measureFailed(const QString& text) {
    std::fprintf(stderr, "tarvo-cli measure: %s\n", text.toLocal8Bit().constData());
    return ExitFailed;
}

QString fixed(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

// The longest a measuring recording may run: the recording memory holds 500,000 samples, ten minutes at
// the fastest update rate.
constexpr int kMaxMeasureSeconds = 600;

struct Samples {
    std::vector<double> timesMs;
    std::vector<double> values;
    int decimals = 0;
    double periodMs = 0; // a recording's sample period, 0 for a file
};

// The least-squares line through (i, y[i]) for i in first..last: its value at `at` and its slope.
std::pair<double, double> lineThrough(const std::vector<double>& y, qsizetype first, qsizetype last,
                                      qsizetype at) {
    const double count = double(last - first + 1);
    double mi = 0, my = 0;
    for (qsizetype i = first; i <= last; ++i) {
        mi += double(i - first);
        my += y[std::size_t(i)];
    }
    mi /= count;
    my /= count;
    double siy = 0, sii = 0;
    for (qsizetype i = first; i <= last; ++i) {
        const double di = double(i - first) - mi;
        siy += di * (y[std::size_t(i)] - my);
        sii += di * di;
    }
    const double slope = sii > 0 ? siy / sii : 0;
    return {my + slope * (double(at - first) - mi), slope};
}

// The recording's sample times. The run clock stamps the samples before the first step-time tick 0 ms and
// the rest with a step averaged over a second, so a step's timing would depend on when the tick came.
// Instead each sample's arrival is stamped, and each sample's time is read off the straight line
// (least squares) through the arrivals of its 41 neighbours: lines the port hands over in bunches are
// spread out again at the stream's rate, and a rate that drifts is followed. The period printed is the
// slope of that line over the whole recording. Without arrival stamps (a status-packet stream), the
// samples are spread evenly over the recording's wall time.
std::vector<double> sampleTimes(const std::vector<qint64>& arrivalNs, qsizetype count, double wallMs,
                                double* periodMs) {
    std::vector<double> times(std::size_t(count), 0.0);
    const qsizetype n = std::min<qsizetype>(qsizetype(arrivalNs.size()), count);
    if (n < 3 || n != count) {
        *periodMs = count > 0 ? wallMs / double(count) : 0;
        for (qsizetype i = 0; i < count; ++i)
            times[std::size_t(i)] = double(i) * *periodMs;
        return times;
    }
    std::vector<double> arrivalMs(static_cast<std::size_t>(n));
    for (qsizetype i = 0; i < n; ++i)
        arrivalMs[std::size_t(i)] = double(arrivalNs[std::size_t(i)] - arrivalNs[0]) / 1e6;
    *periodMs = lineThrough(arrivalMs, 0, n - 1, 0).second;
    constexpr qsizetype kHalf = 20;
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype first = std::max<qsizetype>(0, std::min(i - kHalf, n - 1 - 2 * kHalf));
        const qsizetype last = std::min(n - 1, first + 2 * kHalf);
        times[std::size_t(i)] = lineThrough(arrivalMs, first, last, i).first;
    }
    // From 0, and never backwards.
    const double origin = times[0];
    for (qsizetype i = 0; i < n; ++i)
        times[std::size_t(i)] =
            std::max(i > 0 ? times[std::size_t(i - 1)] : 0.0, times[std::size_t(i)] - origin);
    return times;
}

int printFigures(const Samples& samples, double bandPercent, bool json) {
    const std::vector<double>& values = samples.values;
    const SpanStatistics s = SpanStatistics::of(values.data(), qint64(values.size()));
    const double durationMs = samples.timesMs.back() - samples.timesMs.front();
    const std::optional<StepResponse> step = StepResponse::of(samples.timesMs, values, bandPercent / 100);
    const int d = samples.decimals;

    if (json) {
        QJsonObject out{{"samples", s.count},
                        {"durationMs", durationMs},
                        {"mean", s.mean},
                        {"standardDeviation", s.standardDeviation},
                        {"minimum", s.minimum},
                        {"maximum", s.maximum},
                        {"peakToPeak", s.peakToPeak()},
                        {"decimals", d}};
        if (samples.periodMs > 0)
            out.insert("samplePeriodMs", samples.periodMs);
        if (step)
            out.insert("step", QJsonObject{{"initial", step->initial},
                                           {"final", step->final},
                                           {"size", step->size()},
                                           {"startMs", step->startMs},
                                           {"riseMs", step->riseMs},
                                           {"settlingMs", step->settlingMs},
                                           {"bandPercent", bandPercent},
                                           {"overshootPercent", step->overshootPercent}});
        else
            out.insert("step", QJsonValue::Null);
        std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        return ExitOk;
    }
    QStringList lines{
        QStringLiteral("samples: %1").arg(s.count),
        QStringLiteral("duration: %1 ms").arg(fixed(durationMs, 0)),
        QStringLiteral("mean: %1").arg(fixed(s.mean, d + 2)),
        QStringLiteral("standard deviation: %1").arg(fixed(s.standardDeviation, d + 2)),
        QStringLiteral("minimum: %1").arg(fixed(s.minimum, d)),
        QStringLiteral("maximum: %1").arg(fixed(s.maximum, d)),
        QStringLiteral("peak-to-peak: %1").arg(fixed(s.peakToPeak(), d)),
    };
    if (samples.periodMs > 0)
        lines << QStringLiteral("sample period: %1 ms").arg(fixed(samples.periodMs, 3));
    if (step) {
        lines << QStringLiteral("step: %1 (from %2 to %3)")
                     .arg(fixed(step->size(), d + 1), fixed(step->initial, d + 1), fixed(step->final, d + 1))
              << QStringLiteral("rise time 10-90 %: %1 ms").arg(fixed(step->riseMs, 1))
              << QStringLiteral("settling time to %1 %: %2 ms")
                     .arg(QString::number(bandPercent), fixed(step->settlingMs, 1))
              << QStringLiteral("overshoot: %1 %").arg(fixed(step->overshootPercent, 1));
    } else {
        lines << QStringLiteral("step: none");
    }
    for (const QString& line : lines)
        std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
    return ExitOk;
}

// Records into the slot with RUN for durationMs and takes its samples with honest times (sampleTimes).
std::optional<Samples> recordSamples(int slot, int comPort, qint64 durationMs, bool yes, int* exitStatus) {
    TerminationSignals interrupt(ExitInterrupted);
    CliSession session(yes);
    MainController& c = session.controller();
    std::vector<qint64> arrivals;
    arrivals.reserve(std::size_t(kMaxSamples));
    QElapsedTimer clock;
    clock.start();
    qint64 firstNs = -1, lastNs = -1;
    const Acquisition& a = c.acquisition();
    c.streamDispatcher().setRawValueSink([&](QByteArrayView) {
        if (!a.runRecording() || arrivals.size() >= std::size_t(kMaxSamples))
            return;
        const qint64 now = clock.nsecsElapsed();
        arrivals.push_back(now);
    });
    // The wall time of a stream whose lines do not pass the sink (status packets): from the first
    // recorded sample to the end.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (a.sampleIndex() > 0) {
            if (firstNs < 0)
                firstNs = clock.nsecsElapsed();
            lastNs = clock.nsecsElapsed();
        }
    });
    watch.start(5);
    const SlotRecording taken =
        recordIntoSlot(session, interrupt, "measure", slot, durationMs, false, comPort);
    watch.stop();
    c.streamDispatcher().setRawValueSink({});
    if (taken.exitStatus != ExitOk) {
        *exitStatus = taken.exitStatus;
        return std::nullopt;
    }
    // A lost port or an interrupt ends the recording early: what it took is still measured, and the exit
    // status says that the time was not recorded in full.
    *exitStatus = taken.portLost ? ExitFailed : TerminationSignals::pending() ? ExitInterrupted : ExitOk;
    const GraphSlot& recording = c.recordings().slot(slot);
    Samples samples;
    const qsizetype n = taken.count;
    samples.values.reserve(std::size_t(n));
    for (qsizetype i = 1; i <= n; ++i)
        samples.values.push_back(recording.grossField ? recording.records[i].gross
                                                      : recording.records[i].net);
    samples.timesMs = sampleTimes(
        arrivals, n, firstNs >= 0 ? double(lastNs - firstNs) / 1e6 : double(durationMs), &samples.periodMs);
    // The digits the recorded values carry, as the scope's Measure mode shows them: a stream of counts has
    // none, whatever the device's decimal point.
    samples.decimals = SpanMeasure::decimalsOf(samples.values.data(), n);
    return samples;
}

} // namespace

int runMeasure(const QStringList& args) {
    QCommandLineParser parser;
    parser.addOption(
        {"csv", "the graph data file to measure, as \"Save graph as *.csv file\" wrote it", "FILE"});
    parser.addOption({"seconds",
                      QStringLiteral("record with RUN for N seconds (whole or decimal, up to %1) and measure "
                                     "that instead of a file")
                          .arg(kMaxMeasureSeconds),
                      "N"});
    parser.addOption({"slot", "with --seconds: the graph slot 1..5 to record into (default 1)", "K", "1"});
    parser.addOption({"port",
                      "with --seconds: look for the device on COM port N (1..8) only (default: as "
                      "the settings say)",
                      "N"});
    parser.addOption({"yes", "with --seconds: answer Yes to the program's questions (default: No)"});
    parser.addOption(
        {"band", "the settling band around the final level, in % of the step (default 0.1)", "PCT", "0.1"});
    parser.addOption({"json", "print one JSON object instead of lines of text"});
    addHelpOption(parser);
    if (!parser.parse(QStringList{"tarvo-cli measure"} + args))
        return measureUsageError(parser.errorText());
    if (printHelpIfAsked("measure", parser))
        return ExitOk;
    if (!parser.positionalArguments().isEmpty())
        return measureUsageError("takes no arguments besides its options");
    const double bandPercent = parseTypedNumber(parser.value("band")).value_or(0);
    if (!(bandPercent > 0) || bandPercent > 50)
        return measureUsageError("--band needs a percentage above 0 and at most 50");
    const bool json = parser.isSet("json");

    if (parser.isSet("seconds")) {
        if (parser.isSet("csv"))
            return measureUsageError("--csv and --seconds are two sources; give one");
        const std::optional<qint64> durationMs = parseSeconds(parser.value("seconds"), kMaxMeasureSeconds);
        if (!durationMs)
            return measureUsageError(QStringLiteral("--seconds needs a number of seconds from 0.001 to %1, "
                                                    "whole or decimal (e.g. 2 or 0.5)")
                                         .arg(kMaxMeasureSeconds));
        bool ok = false;
        const int slot = parser.value("slot").toInt(&ok);
        if (!ok || slot < 1 || slot > kGraphSlots)
            return measureUsageError("--slot needs a number 1..5");
        int comPort = 0;
        if (parser.isSet("port")) {
            comPort = parser.value("port").toInt(&ok);
            if (!ok || comPort < 1 || comPort > ComPortMap::kCount)
                return measureUsageError("--port needs a COM number 1..8");
        }
        int status = ExitFailed;
        const std::optional<Samples> samples =
            recordSamples(slot, comPort, *durationMs, parser.isSet("yes"), &status);
        if (!samples)
            return status;
        const int printed = printFigures(*samples, bandPercent, json);
        return status != ExitOk ? status : printed;
    }
    for (const char* option : {"slot", "port", "yes"})
        if (parser.isSet(option))
            return measureUsageError(QStringLiteral("--%1 goes with --seconds").arg(QLatin1String(option)));

    const QString path = parser.value("csv");
    if (path.isEmpty())
        return measureUsageError("--csv needs a file name, or --seconds a duration to record");

    const QFileInfo info(path);
    if (!info.exists())
        return measureFailed(path + ": no such file");
    if (!info.isFile())
        return measureFailed(path + ": not a regular file");
    if (info.size() > kLargestFile)
        return measureFailed(path + ": larger than any saved recording");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return measureFailed(path + ": " + file.errorString());
    QString error;
    const std::optional<DataFileSamples> parsed = DataFileSamples::parse(file.read(kLargestFile + 1), &error);
    if (!parsed)
        return measureFailed(path + ": " + error);
    Samples samples;
    samples.timesMs = parsed->timesMs;
    samples.values = parsed->values;
    samples.decimals = parsed->decimals;
    return printFigures(samples, bandPercent, json);
}

} // namespace tarvo::cli
