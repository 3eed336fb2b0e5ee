// The per-thread slot through which the window procedure reaches the WebView2 controller.
// Per thread, so it needs no lock. Every user takes what it needs out first and only then calls
// into WebView2 or the system, so the slot is never read while it is being changed, even when a
// call dispatches messages that come back into the window procedure.
#pragma once
#include <wrl/client.h>

#include "webview2.h"

class ControllerSlot {
public:
    // Puts a reference to `controller` in, letting go of the one held before.
    static void put(ICoreWebView2Controller* controller);
    // A reference of the caller's own to the controller held, or an empty pointer.
    static Microsoft::WRL::ComPtr<ICoreWebView2Controller> peek();
    // Empties the slot and lets go of what it held.
    static void empty();
};
