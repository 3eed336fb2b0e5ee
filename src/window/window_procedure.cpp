#include "window_procedure.h"

#include "controller_slot.h"
#include "support_mail.h"

namespace {

LRESULT OnDestroy() {
    PostQuitMessage(0);
    return 0;
}

// The control always covers the whole client area; the message's own sizes are not needed.
LRESULT OnSize(HWND window) {
    const auto controller = ControllerSlot::peek();
    RECT client{};
    if (controller && GetClientRect(window, &client)) controller->put_Bounds(client);
    return 0;
}

LRESULT OnSetFocus() {
    const auto controller = ControllerSlot::peek();
    if (controller) controller->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
    return 0;
}

LRESULT OnDpiChanged(HWND window, const RECT* suggested_rect) {
    if (suggested_rect == nullptr) return 0;
    const RECT& suggested = *suggested_rect;
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

}  // namespace

LRESULT CALLBACK installer_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_DESTROY: return OnDestroy();
        case WM_SIZE: return OnSize(window);
        case WM_SETFOCUS: return OnSetFocus();
        case WM_DPICHANGED: return OnDpiChanged(window, reinterpret_cast<const RECT*>(lparam));
        case kOpenSupportMail: open_support_mail(window); return 0;
        default: return DefWindowProcW(window, message, wparam, lparam);
    }
}
