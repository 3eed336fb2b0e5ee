// The WebView2 content of the installer window: created in the window's client area, showing
// the installer page from the executable, and carrying the messages between page and installer.
#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <memory>
#include <optional>
#include <string>

#include "page_setup.h"
#include "result.h"
#include "start_watch.h"
#include "webview2.h"
#include "webview2_runtime.h"
#include "window_result.h"

// What the bridge and its handlers share: how the most recent install request went (set from
// each install's outcome, read once when the bridge closes), whether the page was lost to a
// WebView2 process failure, and the window's start, which the page's first word ends.
struct BridgeState {
    // The most recent install request's outcome; none before the first request. Whether it
    // failed is what the window's result is made of.
    std::optional<Status> last_install;
    // An install request is running inside the page's message event: a process failure reported
    // meanwhile is acted on once it has returned.
    bool installing = false;
    // Set when a WebView2 process failure took the page.
    std::optional<PageLoss> lost;
    std::shared_ptr<StartWatch> start;
};

struct PageBridge {
    Microsoft::WRL::ComPtr<ICoreWebView2Controller> controller;
    Microsoft::WRL::ComPtr<ICoreWebView2> webview;
    Microsoft::WRL::ComPtr<ICoreWebView2Settings> settings;
    std::shared_ptr<BridgeState> state;
};

// How the WebView2 environment is started: the installed runtime in the program, a fake one in
// tests. Same contract as create_webview2_environment.
using EnvironmentStarter = HRESULT (*)(const wchar_t* user_data_folder,
                                       ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler,
                                       StillWaited still_waited);

// Creates the WebView2 controller in `window`, puts it into ControllerSlot, registers the
// handlers and starts the navigation to the page; dispatches the thread's messages while it
// waits for WebView2, which gets until start.start_deadline() for its environment and
// controller together (HRESULT_FROM_WIN32(ERROR_TIMEOUT) after that). Each step is noted in
// `start` for the thread that watches this one, and none is begun once that thread has settled
// the start (HRESULT_FROM_WIN32(ERROR_CANCELLED)). A profile folder below LOCALAPPDATA that the
// runtime refuses with E_ACCESSDENIED is tried once more below the temporary folder, within the
// same deadline. Once the navigation has started, the window's kPageReadyTimer waits
// time_limits().page_ready_ms for the page's first message. On a fatal failure returns its
// HRESULT, leaves `bridge` untouched and lets go of everything it created (a controller already
// put into ControllerSlot stays there).
HRESULT attach_page_bridge(HWND window, const PageSetup& setup, const std::shared_ptr<StartWatch>& start,
                           PageBridge& bridge);
HRESULT attach_page_bridge_with(EnvironmentStarter start_environment, HWND window, const PageSetup& setup,
                                const std::shared_ptr<StartWatch>& start, PageBridge& bridge);

// Closes the controller, lets go of every WebView2 object and hands back the most recent
// install's outcome (none when the page asked for none).
std::optional<Status> close_page_bridge(PageBridge& bridge);

// Where the WebView2 runtime keeps this program's browser profile:
// %LOCALAPPDATA%\Orvelle\Filters\WebView2-Setup. The folder below `local_app_data` when that
// variable is set (its empty value included, which makes the folder relative to the current
// one), else below `temporary_folder`.
std::wstring user_data_folder_for(const std::optional<std::wstring>& local_app_data,
                                  const std::wstring& temporary_folder);
