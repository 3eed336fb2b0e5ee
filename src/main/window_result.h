#pragma once
#include <cstdint>
#include <optional>

#include "result.h"

// What the installer window reports to the driver; 0 and 1 become the exit code as they are.
enum class WindowResult : std::uint8_t {
    Closed = 0,             // shown and closed; the last install attempt did not fail, or none was made
    LastInstallFailed = 1,  // shown and closed after a failed install attempt
    NotShown = 2,           // could not be brought up, or its page was lost before any install;
                            // no window left, message queue empty
};

struct WindowOutcome {
    WindowResult result = WindowResult::NotShown;
    // Set when the page was lost (a WebView2 process failed) after an install request: the most
    // recent install's outcome, which the page may never have shown. The driver shows it in the
    // message-box dialogue's own done or failure box.
    std::optional<Status> unshown_install;
};
