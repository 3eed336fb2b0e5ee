// The test build's limits: long enough for a busy machine's healthy start, short enough that a
// test may wait one out. Each differs from the others, so that a wait armed with the wrong one
// shows.
#include "time_limits.h"

const TimeLimits& time_limits() {
    static constexpr TimeLimits kLimits{4'000, 2'500, 3'000, 1'500};
    return kLimits;
}
