// The installer window's start, watched from outside its thread.
//
// Why a second thread: WebView2's own calls (its loader's entry point, the creation of its
// environment and controller, the controller's first calls, the navigation) may block for tens
// of seconds or for ever on real machines (security products, slow disks, a broken runtime
// update). A thread blocked inside such a call can neither look at a deadline nor be woken. So
// the window and WebView2 live on a thread of their own, and the thread that asked for the
// window watches it with the start limit. When the limit and a margin have passed, the watching
// thread gives the window up and the message boxes run there; the window's thread, should its
// call ever return, finds the start given up and shows nothing, starts nothing and installs
// nothing. The process ends when the dialogue is done, and the blocked thread with it.
//
// Which of the two settles the start is decided once, by an atomic exchange: the window's
// thread shows the window (and, later, its page speaks), or the watcher gives the start up, or
// a close ends it. Never two of them.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>

// A moment on the GetTickCount64 clock after which a wait gives up.
using Deadline = ULONGLONG;

// The deadline `limit_ms` from now.
Deadline deadline_after(unsigned long limit_ms);

// Milliseconds from `now` until `deadline`; 0 once it has passed.
DWORD milliseconds_left(ULONGLONG now, Deadline deadline);

// The runtime call or completion the start is waiting for, named in the run log when the start
// is given up.
enum class StartStep : std::uint8_t {
    RuntimeEntry,          // the runtime loader's entry point
    EnvironmentCreation,   // its completion
    ControllerCall,        // CreateCoreWebView2Controller
    ControllerCreation,    // its completion
    ControllerFirstCalls,  // background colour, bounds, visibility, web view, settings, handlers
    Navigation,            // NavigateToString
    FirstWord,             // the window is shown; the page has not spoken yet
};

std::string_view start_step_text(StartStep step);

enum class StartState : std::uint8_t {
    Starting,  // the runtime is being started; the window is hidden
    Shown,     // the navigation has started and the window is shown
    Running,   // the page has spoken: from here on nothing watches the window
    GivenUp,   // the watcher gave the start up: the message boxes run instead
    Closed,    // a close (WM_CLOSE, the session's end, a quit message) ended the start
};

class StartWatch {
public:
    explicit StartWatch(ULONGLONG started_at = GetTickCount64()) : started_at_(started_at) {}

    // ---- The window's thread.
    void enter(StartStep step) { step_.store(step); }
    // Starting -> Shown; false when the start was given up or closed: then nothing may be shown.
    bool show(ULONGLONG now = GetTickCount64());
    // Shown -> Running (true also when already Running); false when the start was given up or
    // closed, so that a page that speaks after that is not answered.
    bool page_spoke();

    // ---- Either thread.
    // Starting -> Closed; false once the window is shown (a close then ends it as any close
    // does) or the start is settled.
    bool close();
    // The watcher, once the deadline of `from` (Starting or Shown) has passed: from -> GivenUp;
    // false when the state has moved on meanwhile (the page spoke, a close came first).
    bool give_up(StartState from);

    StartState state() const { return state_.load(); }
    StartStep step() const { return step_.load(); }
    bool starting() const { return state() == StartState::Starting; }
    ULONGLONG started_at() const { return started_at_; }
    // The window's thread gives WebView2 this long for its start (a completion that comes later
    // is given up there).
    Deadline start_deadline() const;
    // When the watcher gives the window up in the state it is in now: the start limit or the
    // page's limit, plus the margin for a thread that is busy rather than blocked (a closed start
    // that the window's thread has not finished by the start's deadline ends the run all the
    // same). None once the page runs or the start was given up.
    std::optional<Deadline> watcher_deadline() const;

private:
    bool settle(StartState from, StartState to);

    const ULONGLONG started_at_;
    std::atomic<ULONGLONG> shown_at_{0};
    std::atomic<StartState> state_{StartState::Starting};
    std::atomic<StartStep> step_{StartStep::RuntimeEntry};
};
