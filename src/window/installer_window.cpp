#include "installer_window.h"

#include <windows.h>

#include <atomic>
#include <memory>

#include "late_bound_calls.h"
#include "page_bridge.h"
#include "start_watch.h"
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

// What is left in the window thread's queue after its window is gone (the quit message that the
// destruction posted, a completion that came too late) is dropped, never dispatched.
void discard_queued_messages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {}
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
    // Without a process failure, the page was lost to its silence (kPageReadyTimer).
    const PageLoss loss = bridge.state && bridge.state->lost ? *bridge.state->lost : PageLoss::Silent;
    WindowOutcome outcome;
    outcome.end = WindowEnd::Closed;
    outcome.last_install = close_page_bridge(bridge);
    if (!page_lost) return outcome;

    DestroyWindow(window);
    discard_queued_messages();
    outcome.end = WindowEnd::PageLost;
    outcome.lost = loss;
    return outcome;
}

// A start that ended without a window, with the step it was at and how long it had taken.
WindowOutcome unshown_at(WindowEnd end, const StartWatch& start) {
    WindowOutcome outcome;
    outcome.end = end;
    outcome.waited_for = start.step();
    outcome.waited_ms = GetTickCount64() - start.started_at();
    return outcome;
}

// A start that did not get as far as showing the window: given up (by this thread's own
// deadline, or by the watching thread while this one was blocked), closed, or failed. This
// thread's own deadline does not settle the start: the watcher goes on watching this thread's
// teardown (a controller or window that blocks as it goes) with its own.
WindowOutcome unshown(HRESULT attached, StartWatch& start) {
    if (attached == HRESULT_FROM_WIN32(ERROR_CANCELLED)) start.close();  // the quit message, or a close from outside
    switch (start.state()) {
        case StartState::GivenUp: return unshown_at(WindowEnd::GivenUp, start);
        case StartState::Closed: return unshown_at(WindowEnd::ClosedWhileStarting, start);
        default:
            return unshown_at(attached == HRESULT_FROM_WIN32(ERROR_TIMEOUT) ? WindowEnd::GivenUp : WindowEnd::NotShown,
                              start);
    }
}

// Empties ControllerSlot when the run ends, between the icons and the brush: a controller that a
// failed attach left there is let go of here.
struct ControllerSlotCleanup {
    ControllerSlotCleanup() = default;
    ControllerSlotCleanup(const ControllerSlotCleanup&) = delete;
    ControllerSlotCleanup& operator=(const ControllerSlotCleanup&) = delete;
    ~ControllerSlotCleanup() { ControllerSlot::empty(); }
};

// What the window's thread and the thread that watches it share; owned by both, since either
// may be gone first (the watcher's process ends while this thread is blocked in the runtime).
struct WindowThread {
    PageSetup setup;
    std::shared_ptr<StartWatch> start = std::make_shared<StartWatch>();
    std::atomic<HWND> window{nullptr};
    WindowOutcome outcome;  // written by the window's thread before it ends
};

// The whole window, on the window's own thread: creation, WebView2's start, the message loop.
WindowOutcome run_window(WindowThread& shared) {
    make_process_per_monitor_dpi_aware();  // refused when already set: that is fine
    // Declared in the reverse order of the final clean-up: icons, slot, brush, COM.
    const ComApartment com(COINIT_APARTMENTTHREADED);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const UniqueBrush background(CreateSolidBrush(kWindowColour));
    const ControllerSlotCleanup slot_cleanup;
    WindowIcons icons;

    register_window_class(instance, background.get());
    const HWND window = create_window(instance);
    if (window == nullptr) return unshown(E_FAIL, *shared.start);
    shared.window = window;

    const UINT dpi = effective_dpi(dpi_for_window(window));
    size_and_centre(window, dpi);
    colour_title_bar(window);
    set_icons(window, instance, dpi, icons);

    PageBridge bridge;
    const HRESULT attached = attach_page_bridge(window, shared.setup, shared.start, bridge);
    // Shown only when the start is still this thread's to settle: once given up or closed
    // elsewhere, nothing of this window ever appears.
    if (FAILED(attached) || !shared.start->show()) {
        if (SUCCEEDED(attached)) close_page_bridge(bridge);
        DestroyWindow(window);
        discard_queued_messages();
        return unshown(attached, *shared.start);
    }

    // Shown as soon as the navigation has started; the page paints when it has loaded.
    shared.start->enter(StartStep::FirstWord);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    return run_message_loop(window, bridge);
}

DWORD WINAPI window_thread(void* parameter) {
    const std::unique_ptr<std::shared_ptr<WindowThread>> handed(static_cast<std::shared_ptr<WindowThread>*>(parameter));
    const std::shared_ptr<WindowThread> shared = *handed;
    shared->outcome = run_window(*shared);
    return 0;
}

// A quit message for the watching thread (the process asked to end): during the start it ends
// the run at once, even with the window's thread blocked; later it closes the window as its
// close button would. True when the start was closed.
bool take_quit_message(WindowThread& shared) {
    MSG message;
    bool quit = false;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) quit = quit || message.message == WM_QUIT;
    if (!quit) return false;
    if (shared.start->close()) return true;
    if (const HWND window = shared.window.load()) PostMessageW(window, WM_CLOSE, 0, 0);
    return false;
}

// The watching thread: waits for the window's thread to end, giving the start up once the
// start's or the page's limit and the margin have passed without the window's thread settling
// it. The window's thread is then left where it is (it may never return from the runtime).
WindowOutcome watch_window_thread(HANDLE thread, WindowThread& shared) {
    StartWatch& start = *shared.start;
    for (;;) {
        const StartState state = start.state();
        const std::optional<Deadline> deadline = start.watcher_deadline();
        const DWORD left = deadline ? milliseconds_left(GetTickCount64(), *deadline) : INFINITE;
        if (left == 0) {
            // Closed, and the window's thread has not ended since: the run ends all the same.
            if (state == StartState::Closed) return unshown_at(WindowEnd::ClosedWhileStarting, start);
            if (!start.give_up(state)) continue;  // settled meanwhile: look again
            return unshown_at(WindowEnd::GivenUp, start);
        }
        const DWORD waited = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_POSTMESSAGE);
        if (waited == WAIT_OBJECT_0) return shared.outcome;
        if (waited == WAIT_OBJECT_0 + 1 && take_quit_message(shared))
            return unshown_at(WindowEnd::ClosedWhileStarting, start);
        if (waited == WAIT_FAILED) break;
    }
    // Cannot watch: wait for the window as the single-threaded window would have run.
    WaitForSingleObject(thread, INFINITE);
    return shared.outcome;
}

}  // namespace

WindowOutcome run_installer_window(const PageSetup& setup) {
    const auto shared = std::make_shared<WindowThread>();
    shared->setup = setup;
    auto handed = std::make_unique<std::shared_ptr<WindowThread>>(shared);
    const UniqueHandle thread(CreateThread(nullptr, 0, window_thread, handed.get(), 0, nullptr));
    if (!thread) return {};  // no thread, no window: the message boxes
    handed.release();        // the window's thread owns it now
    return watch_window_thread(thread.get(), *shared);
}
