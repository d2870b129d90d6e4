#include "SimProbe.h"

#include <base/TimeScale.h>

namespace devsim::test {

ScopedTimeScale::ScopedTimeScale(double factor) : previous_(tarvo::TimeScale::factor()) {
    tarvo::TimeScale::setFactor(factor);
}

ScopedTimeScale::~ScopedTimeScale() {
    tarvo::TimeScale::setFactor(previous_);
}

} // namespace devsim::test
