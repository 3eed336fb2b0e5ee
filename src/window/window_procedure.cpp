#include "window_procedure.h"

#include <shellapi.h>

#include <string>
#include <utility>

#include "embedded.h"
#include "text.h"

namespace {

// A plain pointer holding one reference: a thread_local with a destructor would run at thread
// exit, after the runtime may be gone; the window empties the slot before that.
thread_local ICoreWebView2Controller* held = nullptr;

LRESULT on_destroy() {
    PostQuitMessage(0);
    return 0;
}

// The control always covers the whole client area; the message's own sizes are not needed.
// The session ends (shutdown, log-off): the window closes as its close button closes it; during
// the runtime's start that ends the run with nothing shown.
LRESULT on_end_session(HWND window, WPARAM ending) {
    if (ending) DestroyWindow(window);
    return 0;
}

LRESULT on_size(HWND window) {
    const auto controller = ControllerSlot::peek();
    RECT client{};
    if (controller && GetClientRect(window, &client)) controller->put_Bounds(client);
    return 0;
}

LRESULT on_set_focus() {
    const auto controller = ControllerSlot::peek();
    if (controller) controller->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
    return 0;
}

LRESULT on_dpi_changed(HWND window, const RECT* suggested_rect) {
    if (suggested_rect == nullptr) return 0;
    const RECT& suggested = *suggested_rect;
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

LRESULT on_open_support_mail(HWND window) {
    std::string target = "mailto:";
    target += kSupportEmail;
    ShellExecuteW(window, L"open", utf8_to_utf16(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return 0;
}

// The page has not said a word since its navigation started: its renderer hangs or died unseen.
LRESULT on_timer(HWND window, WPARAM timer, LPARAM lparam) {
    if (timer != kPageReadyTimer) return DefWindowProcW(window, WM_TIMER, timer, lparam);
    KillTimer(window, kPageReadyTimer);
    PostQuitMessage(kPageLostQuitCode);
    return 0;
}

}  // namespace

LRESULT CALLBACK installer_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_DESTROY: return on_destroy();
        case WM_SIZE: return on_size(window);
        case WM_SETFOCUS: return on_set_focus();
        case WM_DPICHANGED: return on_dpi_changed(window, reinterpret_cast<const RECT*>(lparam));
        case kOpenSupportMail: return on_open_support_mail(window);
        case WM_TIMER: return on_timer(window, wparam, lparam);
        case WM_ENDSESSION: return on_end_session(window, wparam);
        default: return DefWindowProcW(window, message, wparam, lparam);
    }
}

void ControllerSlot::put(ICoreWebView2Controller* controller) {
    if (controller != nullptr) controller->AddRef();
    ICoreWebView2Controller* previous = std::exchange(held, controller);
    if (previous != nullptr) previous->Release();
}

Microsoft::WRL::ComPtr<ICoreWebView2Controller> ControllerSlot::peek() { return held; }

void ControllerSlot::empty() { put(nullptr); }
