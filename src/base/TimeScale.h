#pragma once

#include <QtGlobal>

namespace tarvo {

// One factor applied to every pause, time limit and timer interval of the core and of the simulator
// engine. It is 1 in the programs; tests shrink it so that an 8 s reset or a 10 s trigger wait does
// not cost real seconds.
class TimeScale {
public:
    static double factor();
    static void setFactor(double factor);
    // A device time in milliseconds as it is waited for here; at least 1 ms for any positive time.
    static int ms(int deviceMs);
};

// Milliseconds on a monotonic clock, for capture and elapsed times.
qint64 monotonicMs();

} // namespace tarvo
