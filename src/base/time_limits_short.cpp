// The test build's limits: long enough for a busy machine's healthy start, short enough that a
// test may wait one out.
#include "time_limits.h"

const TimeLimits& time_limits() {
    static constexpr TimeLimits kLimits{4'000, 4'000, 3'000};
    return kLimits;
}
