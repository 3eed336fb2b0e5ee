#include "start_watch.h"

#include "time_limits.h"

Deadline deadline_after(unsigned long limit_ms) { return GetTickCount64() + limit_ms; }

DWORD milliseconds_left(ULONGLONG now, Deadline deadline) {
    if (now >= deadline) return 0;
    const ULONGLONG left = deadline - now;
    // INFINITE is not a limit: anything that long is capped just below it.
    return left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left);
}

std::string_view start_step_text(StartStep step) {
    switch (step) {
        case StartStep::RuntimeEntry: return "the WebView2 runtime's entry point";
        case StartStep::EnvironmentCreation: return "the WebView2 environment";
        case StartStep::ControllerCall: return "CreateCoreWebView2Controller";
        case StartStep::ControllerCreation: return "the WebView2 controller";
        case StartStep::ControllerFirstCalls: return "the controller's first calls";
        case StartStep::Navigation: return "NavigateToString";
        case StartStep::FirstWord: return "the page's first word";
    }
    return "the WebView2 runtime";
}

bool StartWatch::settle(StartState from, StartState to) { return state_.compare_exchange_strong(from, to); }

bool StartWatch::show(ULONGLONG now) {
    // Noted first: the watcher reads it only once the state says Shown.
    shown_at_.store(now);
    return settle(StartState::Starting, StartState::Shown);
}

bool StartWatch::page_spoke() {
    return settle(StartState::Shown, StartState::Running) || state() == StartState::Running;
}

bool StartWatch::close() { return settle(StartState::Starting, StartState::Closed); }

bool StartWatch::give_up(StartState from) {
    return (from == StartState::Starting || from == StartState::Shown) && settle(from, StartState::GivenUp);
}

Deadline StartWatch::start_deadline() const { return started_at_ + time_limits().webview_start_ms; }

std::optional<Deadline> StartWatch::watcher_deadline() const {
    const TimeLimits& limits = time_limits();
    switch (state()) {
        case StartState::Starting:
        case StartState::Closed: return start_deadline() + limits.blocked_call_margin_ms;
        case StartState::Shown: return shown_at_.load() + limits.page_ready_ms + limits.blocked_call_margin_ms;
        default: return std::nullopt;
    }
}
