#include "installer_window.h"

#include <windows.h>

#include "late_bound_calls.h"
#include "page_bridge.h"
#include "window_handles.h"
#include "window_layout.h"
#include "window_procedure.h"

namespace {

constexpr wchar_t kClassName[] = L"LumivaneSetup";
constexpr wchar_t kTitle[] = L"Lumivane";  // the same in every language
// A caption with system menu and minimise box; no sizing border, no maximise box.
constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
static_assert(kStyle == 0x02CA0000);
constexpr WORD kIconResource = 1;

// Title-bar attributes of DWM (values from dwmapi.h, which is not used at build time).
constexpr DWORD kUseImmersiveDarkMode = 20;
constexpr DWORD kBorderColour = 34;
constexpr DWORD kCaptionColour = 35;
constexpr DWORD kTextColour = 36;

void register_window_class(HINSTANCE instance, HBRUSH background) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = installer_window_procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = background;
    window_class.lpszClassName = kClassName;
    RegisterClassW(&window_class);  // once per run; a failure shows up when the window is created
}

HWND create_window(HINSTANCE instance) {
    return CreateWindowExW(0, kClassName, kTitle, kStyle, CW_USEDEFAULT, CW_USEDEFAULT, kLogicalClientWidth,
                           kLogicalClientHeight, nullptr, nullptr, instance, nullptr);
}

// The client area at the window's DPI, centred in the work area of the nearest monitor.
void size_and_centre(HWND window, UINT dpi) {
    const ClientSize client = scaled_client_size(dpi);
    RECT outer{0, 0, client.width, client.height};
    adjust_window_rect_for_dpi(outer, kStyle, 0, dpi);  // on failure the client size is used as is
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;

    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);  // 40 bytes
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    POINT position{};
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
        position = centred_position(monitor.rcWork, width, height);
    } else {
        flags |= SWP_NOMOVE;  // no work area to centre in: at least give the window its size
    }
    SetWindowPos(window, nullptr, position.x, position.y, width, height, flags);
}

// Dark title bar in the window's own colours; a system that rejects an attribute keeps its own look.
void colour_title_bar(HWND window) {
    set_window_attribute(window, kUseImmersiveDarkMode, TRUE);
    set_window_attribute(window, kBorderColour, kWindowColour);
    set_window_attribute(window, kCaptionColour, kWindowColour);
    set_window_attribute(window, kTextColour, kTitleTextColour);
}

UniqueIcon load_icon(HINSTANCE instance, int size) {
    return UniqueIcon(
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, size, size, 0)));
}

struct WindowIcons {
    UniqueIcon small;
    UniqueIcon large;
};

// The icons stay owned here: a window does not destroy the icons it was given.
void set_icons(HWND window, HINSTANCE instance, UINT dpi, WindowIcons& icons) {
    icons.small = load_icon(instance, system_metric_for_dpi(SM_CXSMICON, dpi));
    icons.large = load_icon(instance, system_metric_for_dpi(SM_CXICON, dpi));
    if (icons.small) SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons.small.get()));
    if (icons.large) SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons.large.get()));
}

// The message boxes that follow a failed window run on this thread: the quit message that the
// window's destruction posted must not reach them and close them at once.
void discard_queued_messages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {}
}

WindowResult result_of(BridgeOutcome closed) {
    return closed == BridgeOutcome::LastInstallFailed ? WindowResult::LastInstallFailed : WindowResult::Closed;
}

// Runs the loop until the window closes or the page is lost, then closes the page bridge. A lost
// page takes the window with it: before any install the run counts as never shown (the message
// boxes take over); after one, that install's outcome goes to the driver to be shown.
WindowOutcome run_message_loop(HWND window, PageBridge& bridge) {
    MSG message{};
    BOOL got = 0;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    const bool page_lost = got == 0 && message.wParam == static_cast<WPARAM>(kPageLostQuitCode);
    ControllerSlot::empty();
    const std::optional<Status> last_install = bridge.state ? bridge.state->last_install : std::nullopt;
    const WindowResult closed = result_of(close_page_bridge(bridge));
    if (!page_lost) return {closed, std::nullopt};

    DestroyWindow(window);
    discard_queued_messages();
    if (!last_install) return {WindowResult::NotShown, std::nullopt};
    return {closed, last_install};
}

// Empties ControllerSlot when the run ends, between the icons and the brush: a controller that a
// failed attach left there is let go of here.
struct ControllerSlotCleanup {
    ControllerSlotCleanup() = default;
    ControllerSlotCleanup(const ControllerSlotCleanup&) = delete;
    ControllerSlotCleanup& operator=(const ControllerSlotCleanup&) = delete;
    ~ControllerSlotCleanup() { ControllerSlot::empty(); }
};

}  // namespace

WindowOutcome run_installer_window(const PageSetup& setup) {
    make_process_per_monitor_dpi_aware();  // refused when already set: that is fine
    // Declared in the reverse order of the final clean-up: icons, slot, brush, COM.
    const ComApartment com(COINIT_APARTMENTTHREADED);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const UniqueBrush background(CreateSolidBrush(kWindowColour));
    const ControllerSlotCleanup slot_cleanup;
    WindowIcons icons;

    register_window_class(instance, background.get());
    const HWND window = create_window(instance);
    if (window == nullptr) return {};

    const UINT dpi = effective_dpi(dpi_for_window(window));
    size_and_centre(window, dpi);
    colour_title_bar(window);
    set_icons(window, instance, dpi, icons);

    PageBridge bridge;
    if (FAILED(attach_page_bridge(window, setup, bridge))) {
        DestroyWindow(window);
        discard_queued_messages();
        return {};
    }

    // Shown as soon as the navigation has started; the page paints when it has loaded.
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    return run_message_loop(window, bridge);
}
