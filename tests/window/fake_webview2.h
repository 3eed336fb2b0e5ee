// A fake WebView2 runtime for the bridge's tests: environment, controller, web view, settings
// and event arguments that do what a World's Behaviour says, record what the bridge did in the
// World's Record, and deliver completions later through the thread's message loop, as the real
// runtime does. Used in-process by the bridge test and inside the stand-in runtime DLL.
#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "webview2.h"

namespace fake_webview2 {

// When a completion of environment or controller creation reaches the handler: on the next
// pumped message, before the start call returns, after Behaviour::late_ms, or never (then it is
// kept in World::withheld, for a test to deliver by hand).
enum class Delivery { Later, BeforeReturning, AfterDelay, Never };

struct Behaviour {
    HRESULT environment_start = S_OK;       // returned by the start call itself
    HRESULT environment_completion = S_OK;  // code handed to the completion handler
    bool environment_object = true;         // the completion carries an environment
    Delivery environment_delivery = Delivery::Later;
    // The first start of a World only: its own start result and completion code.
    HRESULT first_environment_start = S_OK;
    HRESULT first_environment_completion = S_OK;
    bool environment_answers = true;  // the environment answers QueryInterface for its interface
    UINT late_ms = 6000;              // for Delivery::AfterDelay
    // A user data folder that starts with this text (compared without regard to case) is refused
    // as the runtime refuses one it may not write: E_ACCESSDENIED through the completion.
    std::wstring refused_folder;
    Delivery controller_delivery = Delivery::Later;
    HRESULT controller_start = S_OK;
    HRESULT controller_completion = S_OK;
    bool controller_object = true;
    bool offer_controller2 = true;
    bool offer_settings3 = true;
    HRESULT background = S_OK;
    HRESULT bounds = S_OK;
    HRESULT visible = S_OK;
    HRESULT webview = S_OK;
    bool webview_object = true;
    HRESULT settings = S_OK;
    bool settings_object = true;
    HRESULT setters = S_OK;  // every settings setter
    HRESULT add_web_message = S_OK;
    HRESULT add_navigation = S_OK;
    HRESULT add_new_window = S_OK;
    HRESULT add_process_failed = S_OK;
    HRESULT navigate = S_OK;
    HRESULT post = S_OK;
    // Calls that block before they go on, as a runtime held up by a security product's scan or
    // a broken update does: 0 not at all, INFINITE for ever. Once one returns, "<call> returned"
    // is noted.
    DWORD entry_blocks_ms = 0;            // the entry point (start_environment)
    DWORD controller_call_blocks_ms = 0;  // CreateCoreWebView2Controller
    DWORD first_bounds_blocks_ms = 0;     // the first put_Bounds
    DWORD navigate_blocks_ms = 0;         // NavigateToString
};

struct Record {
    std::vector<std::string> calls;  // method names, in call order
    std::wstring user_data_folder;
    HWND parent = nullptr;
    std::optional<RECT> bounds;  // the last bounds given
    std::optional<COREWEBVIEW2_COLOR> background;
    std::optional<BOOL> visible;
    std::map<std::string, BOOL> settings;  // setter name → value
    std::optional<std::wstring> page;
    std::vector<std::wstring> posted;                // host-to-page texts, in order
    std::optional<bool> first_navigation_cancelled;  // the one NavigateToString starts
    int focus_moves = 0;
};

struct World {
    Behaviour behaviour;
    Record record;
    // Called after every recorded call, with its name (the stand-in logs and scripts from here).
    std::function<void(const std::string&)> on_call;
    // The handlers the bridge registered; released when the controller closes.
    Microsoft::WRL::ComPtr<ICoreWebView2WebMessageReceivedEventHandler> web_message_handler;
    Microsoft::WRL::ComPtr<ICoreWebView2NavigationStartingEventHandler> navigation_handler;
    Microsoft::WRL::ComPtr<ICoreWebView2NewWindowRequestedEventHandler> new_window_handler;
    Microsoft::WRL::ComPtr<ICoreWebView2ProcessFailedEventHandler> process_failed_handler;
    // Completions held back (Delivery::Never), in the order they were due.
    std::vector<std::function<void()>> withheld;
    // Lent pointer to the web view, the sender of events; null before it exists and after it is gone.
    ICoreWebView2* webview = nullptr;

    void note(const std::string& call);
};

// How many fake objects (environment, controller, web view, settings, event arguments) exist.
int live_fake_objects();

// Runs `work` on this thread once it next dispatches messages, or after `delay_ms`.
void run_later(std::function<void()> work);
void run_after(UINT delay_ms, std::function<void()> work);

// The fake counterpart of the runtime's entry point.
HRESULT start_environment(const std::shared_ptr<World>& world, const wchar_t* user_data_folder,
                          ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

// The page's side: a message as a string, or (nullopt) as something else, such as an object.
// Returns the handler's result; E_UNEXPECTED when no handler or web view is there.
HRESULT send_page_message(World& world, const std::optional<std::wstring>& text);
// A navigation and a new-window request as the page would start them; true when the bridge
// cancelled / handled it.
bool start_navigation(World& world, const std::wstring& uri);
bool request_new_window(World& world, const std::wstring& uri);
// A WebView2 process failure of that kind, as the runtime reports it; the handler's result, or
// E_UNEXPECTED when no handler or web view is there.
HRESULT fail_process(World& world, COREWEBVIEW2_PROCESS_FAILED_KIND kind);

// The texts that TryGetWebMessageAsString handed out and that nobody has freed yet
// (CoTaskMemFree), counted through a COM allocator spy that watch_message_texts registers
// once per process. -1 when the spy could not be registered.
void watch_message_texts();
int unfreed_message_texts();

}  // namespace fake_webview2
