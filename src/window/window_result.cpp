#include "window_result.h"

namespace {

const char* loss_text(PageLoss loss) {
    switch (loss) {
        case PageLoss::BrowserProcessExited: return "browser process exited";
        case PageLoss::RenderProcessExited: return "render process exited";
        case PageLoss::RenderProcessUnresponsive: return "render process unresponsive";
        case PageLoss::Silent: return "the page did not answer";
    }
    return "unknown";
}

}  // namespace

WindowResult window_result(const WindowOutcome& outcome) {
    const bool shown_to_the_end = outcome.end == WindowEnd::Closed ||
                                  (outcome.end == WindowEnd::PageLost && outcome.last_install);
    if (!shown_to_the_end) return WindowResult::NotShown;
    return outcome.last_install && !outcome.last_install->ok() ? WindowResult::LastInstallFailed : WindowResult::Closed;
}

std::optional<std::string> window_log_line(const WindowOutcome& outcome) {
    switch (outcome.end) {
        case WindowEnd::Closed: return std::nullopt;
        case WindowEnd::PageLost:
            return "the page was lost: " + std::string(loss_text(outcome.lost.value_or(PageLoss::Silent)));
        case WindowEnd::NotShown: return "the window could not be shown: message boxes";
        case WindowEnd::GivenUp:
            return "the window was given up after " + std::to_string(outcome.waited_ms) + " ms waiting for " +
                   std::string(start_step_text(outcome.waited_for)) + ": message boxes";
        case WindowEnd::ClosedWhileStarting: return "the window was closed while WebView2 started";
    }
    return std::nullopt;
}
