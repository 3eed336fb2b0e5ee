#include "page_bridge.h"

#include <string>

#include "com_handlers.h"
#include "embedded.h"
#include "file_ops.h"
#include "page_protocol.h"
#include "paths.h"
#include "late_bound_calls.h"
#include "wait_with_pump.h"
#include "text.h"
#include "time_limits.h"
#include "webview2_runtime.h"
#include "window_layout.h"
#include "window_procedure.h"

using Microsoft::WRL::ComPtr;

namespace {

// Runs the steps in order until one fails; that step's HRESULT, or S_OK when all succeeded.
template <class... Steps>
HRESULT first_failure(Steps&&... steps) {
    HRESULT result = S_OK;
    // The fold stops calling steps once `result` has failed: && short-circuits.
    (void)((SUCCEEDED(result = steps())) && ...);
    return result;
}

// The profile folder for this process: below LOCALAPPDATA as handed in, else the system's
// temporary folder (only asked for when it is needed).
std::wstring user_data_folder(const std::optional<std::wstring>& local_app_data) {
    return user_data_folder_for(local_app_data, local_app_data ? std::wstring() : temporary_folder());
}

// One step of the start: noted for the watching thread before it calls into the runtime, and not
// begun at all once that thread has settled the start.
template <class Step>
HRESULT start_step(StartWatch& start, StartStep step, Step&& call) {
    if (!start.starting()) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    start.enter(step);
    return call();
}

HRESULT start_environment_in(EnvironmentStarter start_runtime, const std::wstring& folder,
                             const std::shared_ptr<StartWatch>& start, ComPtr<ICoreWebView2Environment>& environment) {
    ignore_failure(create_folder(folder));  // the runtime reports it if it really cannot use the folder

    // Shared with the handler, which WebView2 keeps (and may call) after a wait that gave up.
    const auto channel = std::make_shared<Completion<ICoreWebView2Environment>>();
    const auto handler = make_com_object<EnvironmentCompletedHandler>(channel);
    if (!handler) return E_OUTOFMEMORY;
    // The loader's retry after a failed start only while this wait still stands.
    StillWaited still_waited = [channel, start] {
        return !channel->given_up && start->starting() && GetTickCount64() < start->start_deadline();
    };
    const HRESULT started = start_step(*start, StartStep::RuntimeEntry, [&] {
        return start_runtime(folder.c_str(), handler.Get(), std::move(still_waited));
    });
    if (FAILED(started)) return started;
    start->enter(StartStep::EnvironmentCreation);
    return wait_with_pump(*channel, *start, environment);
}

// A profile below LOCALAPPDATA that the runtime may not use (a redirected or locked-down
// profile folder) is given up for the temporary folder's, the one a process without
// LOCALAPPDATA uses; once, within the same time limit.
HRESULT create_environment(EnvironmentStarter start_runtime, const std::optional<std::wstring>& local_app_data,
                           const std::shared_ptr<StartWatch>& start, ComPtr<ICoreWebView2Environment>& environment) {
    const std::wstring folder = user_data_folder(local_app_data);
    const HRESULT result = start_environment_in(start_runtime, folder, start, environment);
    if (result != E_ACCESSDENIED || !local_app_data) return result;
    const std::wstring fallback = user_data_folder(std::nullopt);
    if (fallback == folder) return result;
    return start_environment_in(start_runtime, fallback, start, environment);
}

HRESULT create_controller(ICoreWebView2Environment& environment, HWND window, StartWatch& start,
                          ComPtr<ICoreWebView2Controller>& controller) {
    const auto channel = std::make_shared<Completion<ICoreWebView2Controller>>();
    const auto handler = make_com_object<ControllerCompletedHandler>(channel);
    if (!handler) return E_OUTOFMEMORY;
    const HRESULT started = start_step(start, StartStep::ControllerCall,
                                       [&] { return environment.CreateCoreWebView2Controller(window, handler.Get()); });
    if (FAILED(started)) return started;
    start.enter(StartStep::ControllerCreation);
    return wait_with_pump(*channel, start, controller);
}

// The page's own background colour, so nothing flashes white before it has painted.
void set_background_colour(ICoreWebView2Controller& controller) {
    ComPtr<ICoreWebView2Controller2> controller2;
    if (FAILED(controller.QueryInterface(IID_PPV_ARGS(&controller2)))) return;
    const COREWEBVIEW2_COLOR colour{255, GetRValue(kWindowColour), GetGValue(kWindowColour), GetBValue(kWindowColour)};
    controller2->put_DefaultBackgroundColor(colour);
}

// Fills the whole client area and shows the control. Both are fatal.
HRESULT place_controller(ICoreWebView2Controller& controller, HWND window) {
    RECT bounds{};
    if (!GetClientRect(window, &bounds)) bounds = RECT{};
    HRESULT result = controller.put_Bounds(bounds);
    if (SUCCEEDED(result)) result = controller.put_IsVisible(TRUE);
    return result;
}

// No browser chrome inside the installer: each setting on its own, failures ignored.
void confine_settings(ICoreWebView2Settings& settings, bool devtools) {
    settings.put_AreDefaultContextMenusEnabled(FALSE);
    settings.put_AreDevToolsEnabled(devtools ? TRUE : FALSE);
    settings.put_IsStatusBarEnabled(FALSE);
    settings.put_IsZoomControlEnabled(FALSE);
    ComPtr<ICoreWebView2Settings3> settings3;
    if (SUCCEEDED(settings.QueryInterface(IID_PPV_ARGS(&settings3)))) {
        settings3->put_AreBrowserAcceleratorKeysEnabled(FALSE);
    }
}

std::wstring init_message_for(const PageSetup& setup) {
    return build_init_message(setup.language_code, setup.version, setup.plugin_folder, setup.auto_start);
}

// A getter's object, with a success that delivers none counted as E_POINTER.
template <class Object>
HRESULT got_object(HRESULT result, const ComPtr<Object>& object) {
    return SUCCEEDED(result) && !object ? E_POINTER : result;
}

// Registers the four handlers; their tokens are not kept, since they are never removed.
HRESULT register_handlers(ICoreWebView2& webview, HWND window, const PageSetup& setup,
                          const std::shared_ptr<BridgeState>& state) {
    EventRegistrationToken token{};
    return first_failure(
        [&] {
            const auto messages = make_com_object<WebMessageHandler>(state, init_message_for(setup), setup.install,
                                                                     window);
            return messages ? webview.add_WebMessageReceived(messages.Get(), &token) : E_OUTOFMEMORY;
        },
        [&] {
            const auto navigation = make_com_object<NavigationHandler>();
            return navigation ? webview.add_NavigationStarting(navigation.Get(), &token) : E_OUTOFMEMORY;
        },
        [&] {
            const auto new_windows = make_com_object<NewWindowHandler>();
            return new_windows ? webview.add_NewWindowRequested(new_windows.Get(), &token) : E_OUTOFMEMORY;
        },
        [&] {
            const auto failures = make_com_object<ProcessFailedHandler>(state);
            return failures ? webview.add_ProcessFailed(failures.Get(), &token) : E_OUTOFMEMORY;
        });
}

}  // namespace

HRESULT attach_page_bridge(HWND window, const PageSetup& setup, const std::shared_ptr<StartWatch>& start,
                           PageBridge& bridge) {
    return attach_page_bridge_with(create_webview2_environment, window, setup, start, bridge);
}

HRESULT attach_page_bridge_with(EnvironmentStarter start_environment, HWND window, const PageSetup& setup,
                                const std::shared_ptr<StartWatch>& start, PageBridge& bridge) {
    ComPtr<ICoreWebView2Environment> environment;
    ComPtr<ICoreWebView2Controller> controller;
    ComPtr<ICoreWebView2> webview;
    ComPtr<ICoreWebView2Settings> settings;
    const auto state = std::make_shared<BridgeState>();
    state->start = start;
    // Environment and controller together, within the start's one deadline: a runtime that
    // starts neither in time is given up.
    const HRESULT result = first_failure(
        [&] { return create_environment(start_environment, setup.local_app_data, start, environment); },
        [&] { return create_controller(*environment.Get(), window, *start, controller); },
        [&] {
            return start_step(*start, StartStep::ControllerFirstCalls, [&] {
                set_background_colour(*controller.Get());
                return place_controller(*controller.Get(), window);
            });
        },
        [&] {
            ControllerSlot::put(controller.Get());
            return got_object(controller->get_CoreWebView2(&webview), webview);
        },
        [&] { return got_object(webview->get_Settings(&settings), settings); },
        [&] {
            confine_settings(*settings.Get(), setup.devtools);
            return register_handlers(*webview.Get(), window, setup, state);
        },
        [&] {
            return start_step(*start, StartStep::Navigation,
                              [&] { return webview->NavigateToString(utf8_to_utf16(installer_page()).c_str()); });
        });
    if (FAILED(result)) return result;

    // The navigation has started: the page's first word is due within the limit (a failure to
    // set the timer leaves the page unwatched, nothing worse).
    SetTimer(window, kPageReadyTimer, time_limits().page_ready_ms, nullptr);

    bridge = PageBridge{std::move(controller), std::move(webview), std::move(settings), state};
    return S_OK;
}

std::wstring user_data_folder_for(const std::optional<std::wstring>& local_app_data,
                                  const std::wstring& temporary_folder) {
    const std::wstring& base = local_app_data ? *local_app_data : temporary_folder;
    return join_path(join_path(join_path(base, L"Orvelle"), L"Filters"), L"WebView2-Setup");
}

std::optional<Status> close_page_bridge(PageBridge& bridge) {
    if (bridge.controller) bridge.controller->Close();
    std::optional<Status> last_install = bridge.state ? bridge.state->last_install : std::nullopt;
    bridge.state.reset();
    bridge.settings.Reset();
    bridge.webview.Reset();
    bridge.controller.Reset();
    return last_install;
}
