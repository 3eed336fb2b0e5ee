#pragma once
#include <cstdint>

// What the installer window reports to the driver; 0 and 1 become the exit code as they are.
enum class WindowResult : std::uint8_t {
    Closed = 0,             // shown and closed; the last install attempt did not fail, or none was made
    LastInstallFailed = 1,  // shown and closed after a failed install attempt
    NotShown = 2,           // could not be brought up; no window left, message queue empty
};
