#include "TimeScale.h"

#include <QElapsedTimer>
#include <atomic>
#include <cmath>

namespace tarvo {

namespace {
std::atomic<double> g_factor{1.0};
}

double TimeScale::factor() {
    return g_factor.load(std::memory_order_relaxed);
}

void TimeScale::setFactor(double factor) {
    g_factor.store(factor > 0 ? factor : 1.0, std::memory_order_relaxed);
}

int TimeScale::ms(int deviceMs) {
    if (deviceMs <= 0)
        return 0;
    const double f = factor();
    if (f == 1.0)
        return deviceMs;
    return std::max(1, static_cast<int>(std::lround(deviceMs * f)));
}

qint64 monotonicMs() {
    static const QElapsedTimer origin = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return origin.elapsed();
}

} // namespace tarvo
