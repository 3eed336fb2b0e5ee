// What the installer window reports to the driver: how its run ended and, if the page asked for
// any, the most recent install's outcome. The exit code and the log line are derived from it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "result.h"
#include "start_watch.h"

// The driver's view: 0 and 1 become the exit code as they are.
enum class WindowResult : std::uint8_t {
    Closed = 0,             // shown and closed; the last install attempt did not fail, or none was made
    LastInstallFailed = 1,  // shown and closed after a failed install attempt
    NotShown = 2,           // could not be brought up, or its page was lost before any install;
                            // no window left
};

// Why a page that was shown is gone for good.
enum class PageLoss : std::uint8_t { BrowserProcessExited, RenderProcessExited, RenderProcessUnresponsive, Silent };

enum class WindowEnd : std::uint8_t {
    Closed,               // shown, then closed (its close button, the page, the session's end)
    PageLost,             // shown, then its page was lost (`lost` says how)
    NotShown,             // a step of the start failed (no runtime, say): never shown
    GivenUp,              // the start took longer than its limit (`waited_for`, `waited_ms`)
    ClosedWhileStarting,  // a close came while the runtime started: nothing is to be shown
};

struct WindowOutcome {
    WindowEnd end = WindowEnd::NotShown;
    // The most recent install the page asked for; none when it asked for none.
    std::optional<Status> last_install;
    std::optional<PageLoss> lost;
    StartStep waited_for = StartStep::RuntimeEntry;
    unsigned long long waited_ms = 0;
};

// Closed, or a page lost after an install: the last install decides between 0 and 1. Anything
// else: NotShown.
WindowResult window_result(const WindowOutcome& outcome);

// The run log's line for a window that did not simply close, e.g. "the page was lost: browser
// process exited"; none for a plain close.
std::optional<std::string> window_log_line(const WindowOutcome& outcome);
