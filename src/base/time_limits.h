// How long the setup waits for what may never come: WebView2's start, the page's first word,
// another setup's hold on the folder. The shipped executable links the real limits
// (time_limits.cpp); the test programs and the test build of the setup
// (Lumivane-Setup-short-limits.exe) link short ones, so that no test waits out a real limit and
// no user can shorten them: nothing read at run time changes them.
#pragma once

struct TimeLimits {
    unsigned long webview_start_ms;  // environment and controller creation together
    unsigned long page_ready_ms;     // from the navigation's start to the page's "ready"
    unsigned long folder_lock_ms;    // another setup holding the folder's lock
    // How much longer than either WebView2 limit the thread that watches the window's thread
    // waits before it gives the window up itself: a runtime call that blocks cannot be woken,
    // but one that merely completes late is given up by the window's own thread first.
    unsigned long blocked_call_margin_ms;
};

const TimeLimits& time_limits();
