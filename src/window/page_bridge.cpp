#include "page_bridge.h"

#include <string>

#include "completion_handlers.h"
#include "controller_slot.h"
#include "embedded.h"
#include "environment.h"
#include "file_ops.h"
#include "init_message.h"
#include "navigation_handlers.h"
#include "placement.h"
#include "text.h"
#include "user_data_folder.h"
#include "webview2_runtime_loader.h"
#include "window_layout.h"

using Microsoft::WRL::ComPtr;

namespace {

HRESULT create_environment(EnvironmentStarter start, ComPtr<ICoreWebView2Environment>& environment) {
    const std::wstring folder = user_data_folder();
    (void)create_folder(folder);  // the runtime reports it if it really cannot use the folder

    const auto channel = std::make_shared<Completion<ICoreWebView2Environment>>();
    const auto handler = make_com_object<EnvironmentCompletedHandler>(channel);
    if (!handler) return E_OUTOFMEMORY;
    const HRESULT started = start(folder.c_str(), handler.Get());
    if (FAILED(started)) return started;
    return wait_with_pump(*channel, environment);
}

HRESULT create_controller(ICoreWebView2Environment& environment, HWND window,
                          ComPtr<ICoreWebView2Controller>& controller) {
    const auto channel = std::make_shared<Completion<ICoreWebView2Controller>>();
    const auto handler = make_com_object<ControllerCompletedHandler>(channel);
    if (!handler) return E_OUTOFMEMORY;
    const HRESULT started = environment.CreateCoreWebView2Controller(window, handler.Get());
    if (FAILED(started)) return started;
    return wait_with_pump(*channel, controller);
}

// The page's own background colour, so nothing flashes white before it has painted.
void set_background_colour(ICoreWebView2Controller& controller) {
    ComPtr<ICoreWebView2Controller2> controller2;
    if (FAILED(controller.QueryInterface(IID_PPV_ARGS(&controller2)))) return;
    const COREWEBVIEW2_COLOR colour{255, GetRValue(kWindowColour), GetGValue(kWindowColour),
                                    GetBValue(kWindowColour)};
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
void confine_settings(ICoreWebView2Settings& settings) {
    settings.put_AreDefaultContextMenusEnabled(FALSE);
    settings.put_AreDevToolsEnabled(environment_has(L"ORVELLE_DEVTOOLS") ? TRUE : FALSE);
    settings.put_IsStatusBarEnabled(FALSE);
    settings.put_IsZoomControlEnabled(FALSE);
    ComPtr<ICoreWebView2Settings3> settings3;
    if (SUCCEEDED(settings.QueryInterface(IID_PPV_ARGS(&settings3)))) {
        settings3->put_AreBrowserAcceleratorKeysEnabled(FALSE);
    }
}

std::wstring init_message_for(UiLanguage language) {
    const Result<std::wstring> folder = resolve_plugin_folder();
    const std::string path = folder.ok() ? utf16_to_utf8(folder.value()) : std::string();
    return utf8_to_utf16(build_init_message(ui_language_code(language), kSetupVersion, path,
                                            environment_has(L"ORVELLE_SETUP_AUTO")));
}

// Registers the three handlers; their tokens are not kept, since they are never removed.
HRESULT register_handlers(ICoreWebView2& webview, HWND window, UiLanguage language,
                          const std::shared_ptr<BridgeState>& state) {
    EventRegistrationToken token{};
    const auto messages = make_com_object<WebMessageHandler>(state, init_message_for(language), window);
    if (!messages) return E_OUTOFMEMORY;
    HRESULT result = webview.add_WebMessageReceived(messages.Get(), &token);
    if (FAILED(result)) return result;

    const auto navigation = make_com_object<NavigationHandler>();
    if (!navigation) return E_OUTOFMEMORY;
    result = webview.add_NavigationStarting(navigation.Get(), &token);
    if (FAILED(result)) return result;

    const auto new_windows = make_com_object<NewWindowHandler>();
    if (!new_windows) return E_OUTOFMEMORY;
    return webview.add_NewWindowRequested(new_windows.Get(), &token);
}

}  // namespace

HRESULT attach_page_bridge(HWND window, UiLanguage language, PageBridge& bridge) {
    return attach_page_bridge_with(create_webview2_environment, window, language, bridge);
}

HRESULT attach_page_bridge_with(EnvironmentStarter start_environment, HWND window, UiLanguage language,
                                PageBridge& bridge) {
    ComPtr<ICoreWebView2Environment> environment;
    HRESULT result = create_environment(start_environment, environment);
    if (FAILED(result)) return result;

    ComPtr<ICoreWebView2Controller> controller;
    result = create_controller(*environment.Get(), window, controller);
    if (FAILED(result)) return result;

    set_background_colour(*controller.Get());
    result = place_controller(*controller.Get(), window);
    if (FAILED(result)) return result;
    ControllerSlot::put(controller.Get());

    ComPtr<ICoreWebView2> webview;
    result = controller->get_CoreWebView2(&webview);
    if (SUCCEEDED(result) && !webview) result = E_POINTER;
    if (FAILED(result)) return result;
    ComPtr<ICoreWebView2Settings> settings;
    result = webview->get_Settings(&settings);
    if (SUCCEEDED(result) && !settings) result = E_POINTER;
    if (FAILED(result)) return result;
    confine_settings(*settings.Get());

    const auto state = std::make_shared<BridgeState>();
    result = register_handlers(*webview.Get(), window, language, state);
    if (FAILED(result)) return result;

    result = webview->NavigateToString(utf8_to_utf16(installer_page()).c_str());
    if (FAILED(result)) return result;

    bridge = PageBridge{std::move(controller), std::move(webview), std::move(settings), state};
    return S_OK;
}

bool close_page_bridge(PageBridge& bridge) {
    if (bridge.controller) bridge.controller->Close();
    const bool last_install_failed = bridge.state && bridge.state->last_install_failed;
    bridge.state.reset();
    bridge.settings.Reset();
    bridge.webview.Reset();
    bridge.controller.Reset();
    return last_install_failed;
}
