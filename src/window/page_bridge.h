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
#include "webview2.h"

// What the bridge and its handlers share: how the most recent install request went (set from
// each install's outcome, read once when the bridge closes), and whether the page was lost to a
// WebView2 process failure.
struct BridgeState {
    bool last_install_failed = false;
    // The most recent install request's outcome; none before the first request.
    std::optional<Status> last_install;
    // An install request is running inside the page's message event: a process failure reported
    // meanwhile is acted on once it has returned.
    bool installing = false;
    bool page_lost = false;
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
                                       ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

// Creates the WebView2 controller in `window`, puts it into ControllerSlot, registers the
// handlers and starts the navigation to the page; dispatches the thread's messages while it
// waits for WebView2, which gets time_limits().webview_start_ms for its environment and
// controller together (HRESULT_FROM_WIN32(ERROR_TIMEOUT) after that). A profile folder below
// LOCALAPPDATA that the runtime refuses with E_ACCESSDENIED is tried once more below the
// temporary folder. Once the navigation has started, the window's kPageReadyTimer waits
// time_limits().page_ready_ms for the page's first message. On a fatal failure returns its
// HRESULT, leaves `bridge` untouched and lets go of everything it created (a controller already
// put into ControllerSlot stays there).
HRESULT attach_page_bridge(HWND window, const PageSetup& setup, PageBridge& bridge);
HRESULT attach_page_bridge_with(EnvironmentStarter start_environment, HWND window, const PageSetup& setup,
                                PageBridge& bridge);

// How the page's installs went, as the bridge closes.
enum class BridgeOutcome {
    NoFailedInstall,    // the most recent install attempt succeeded, or none was made
    LastInstallFailed,  // the most recent install attempt failed
};

// Closes the controller, lets go of every WebView2 object and tells how the installs went.
BridgeOutcome close_page_bridge(PageBridge& bridge);

// Where the WebView2 runtime keeps this program's browser profile:
// %LOCALAPPDATA%\Orvelle\Filters\WebView2-Setup. The folder below `local_app_data` when that
// variable is set (its empty value included, which makes the folder relative to the current
// one), else below `temporary_folder`.
std::wstring user_data_folder_for(const std::optional<std::wstring>& local_app_data,
                                  const std::wstring& temporary_folder);
