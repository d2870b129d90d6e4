#include "cli/Subcommands.h"
#include "measure/SpanStatistics.h"

#include <QCommandLineParser>
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

} // namespace

int runMeasure(const QStringList& args) {
    QCommandLineParser parser;
    parser.addOption(
        {"csv", "the graph data file to measure, as \"Save graph as *.csv file\" wrote it", "FILE"});
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
    const QString path = parser.value("csv");
    if (path.isEmpty())
        return measureUsageError("--csv needs a file name");
    bool ok = false;
    const double bandPercent = parser.value("band").toDouble(&ok);
    if (!ok || !(bandPercent > 0) || bandPercent > 50)
        return measureUsageError("--band needs a percentage above 0 and at most 50");

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
    const std::optional<DataFileSamples> samples =
        DataFileSamples::parse(file.read(kLargestFile + 1), &error);
    if (!samples)
        return measureFailed(path + ": " + error);

    const std::vector<double>& values = samples->values;
    const SpanStatistics s = SpanStatistics::of(values.data(), qint64(values.size()));
    const double durationMs = samples->timesMs.back() - samples->timesMs.front();
    const std::optional<StepResponse> step = StepResponse::of(samples->timesMs, values, bandPercent / 100);
    const int d = samples->decimals;

    if (parser.isSet("json")) {
        QJsonObject out{{"samples", s.count},
                        {"durationMs", durationMs},
                        {"mean", s.mean},
                        {"standardDeviation", s.standardDeviation},
                        {"minimum", s.minimum},
                        {"maximum", s.maximum},
                        {"peakToPeak", s.peakToPeak()},
                        {"decimals", d}};
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

} // namespace tarvo::cli
