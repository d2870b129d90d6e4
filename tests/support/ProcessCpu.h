#pragma once

#include <sys/resource.h>

namespace tarvo::test {

// User and system CPU seconds this test process has used so far: a test that must not spin compares two
// readings against the wall time between them.
inline double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace tarvo::test
