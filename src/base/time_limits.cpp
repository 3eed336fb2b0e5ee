#include "time_limits.h"

const TimeLimits& time_limits() {
    static constexpr TimeLimits kLimits{15'000, 10'000, 30'000, 2'000};
    return kLimits;
}
