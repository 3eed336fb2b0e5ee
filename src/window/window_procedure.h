// The installer window's procedure and what it reaches: destroy ends the message loop, size and
// focus go on to the WebView2 controller (through ControllerSlot), a DPI change takes the size
// the system suggests, kOpenSupportMail opens the support mail link, kPageReadyTimer gives the
// page up, the session's end (WM_ENDSESSION) destroys the window. Nothing else is handled;
// WM_CLOSE included, whose default processing destroys the window, and WM_QUERYENDSESSION, whose
// default lets the session end.
#pragma once
#include <windows.h>
#include <wrl/client.h>

#include "webview2.h"

LRESULT CALLBACK installer_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The per-thread slot through which the window procedure reaches the WebView2 controller.
// Per thread, so it needs no lock. Every user takes what it needs out first and only then calls
// into WebView2 or the system, so the slot is never read while it is being changed, even when a
// call dispatches messages that come back into the window procedure.
class ControllerSlot {
public:
    // Puts a reference to `controller` in, letting go of the one held before.
    static void put(ICoreWebView2Controller* controller);
    // A reference of the caller's own to the controller held, or an empty pointer.
    static Microsoft::WRL::ComPtr<ICoreWebView2Controller> peek();
    // Empties the slot and lets go of what it held.
    static void empty();
};

// The support mail link. The page asks for it inside WebView2's message event, where no modal UI
// may run; with no mail program set up the shell shows a modal "choose an app" dialogue. So the
// event only posts kOpenSupportMail to the window, and the window procedure opens the link
// ("mailto:" and the support address, with the shell's "open" verb; the outcome is not looked at).
inline constexpr UINT kOpenSupportMail = WM_APP + 1;

// The watch for a page that never speaks: a timer of the window, started when the navigation to
// the page starts and stopped by the page's first message. When it fires, the window procedure
// ends the message loop with kPageLostQuitCode.
inline constexpr UINT_PTR kPageReadyTimer = 1;

// The quit message's code when the page is lost (a WebView2 process failed, or the page never
// spoke), as opposed to 0 when the window was closed. Ending the message loop this way also
// ends any modal loop running at the time (moving the window, say), which passes it on.
inline constexpr int kPageLostQuitCode = 0x4C6F;
