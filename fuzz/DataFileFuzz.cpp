// Feeds arbitrary bytes to the data-file reader of "tarvo-cli measure", the way a saved or hand-edited
// "*.csv" reaches it: it either reads samples whose times never run backwards, with figures it can
// compute, or says on which line it stopped.
#include "measure/SpanStatistics.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const std::optional<tarvo::DataFileSamples> samples = tarvo::DataFileSamples::parse(bytes, &error);
    if (!samples) {
        if (!error.startsWith(QLatin1String("line ")))
            __builtin_trap();
        return 0;
    }
    if (samples->values.empty() || samples->values.size() != samples->timesMs.size())
        __builtin_trap();
    for (std::size_t i = 1; i < samples->timesMs.size(); ++i)
        if (samples->timesMs[i] < samples->timesMs[i - 1])
            __builtin_trap();
    const tarvo::SpanStatistics s =
        tarvo::SpanStatistics::of(samples->values.data(), qint64(samples->values.size()));
    if (s.count != qint64(samples->values.size()) || s.minimum > s.maximum || std::isnan(s.standardDeviation))
        __builtin_trap();
    (void)tarvo::StepResponse::of(samples->timesMs, samples->values);
    return 0;
}
