// The small COM objects this program hands to WebView2: the two completion handlers of start-up,
// the handlers that keep the page the only document, the handler of WebView2's process failures,
// and the handler of the page's messages.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "com_object.h"
#include "page_setup.h"
#include "wait_with_pump.h"
#include "webview2.h"
#include "window_result.h"

// ---- Start-up: each completion handler hands WebView2's result (a code and the created object)
// to the waiting code through a shared Completion. The channel is shared because WebView2 keeps
// the handler, and may call it, after a failed wait has given up.

// What a completion that comes after its wait gave up leaves behind: an environment is simply
// not kept; a controller is closed, so that its browser content does not live on unseen.
inline void let_go_of_late(ICoreWebView2Environment*) {}
inline void let_go_of_late(ICoreWebView2Controller* controller) {
    if (controller != nullptr) controller->Close();
}

template <class HandlerInterface, class Created>
class CompletionHandler final : public ComObject<CompletionHandler<HandlerInterface, Created>, HandlerInterface> {
public:
    explicit CompletionHandler(std::shared_ptr<Completion<Created>> channel) : channel_(std::move(channel)) {}

    HRESULT STDMETHODCALLTYPE Invoke(HRESULT result, Created* created) override {
        if (channel_->given_up) {
            // The setup has moved on (its window may be gone): what comes now is let go of.
            if (SUCCEEDED(result)) let_go_of_late(created);
            return S_OK;
        }
        if (channel_->arrived) return S_OK;  // only the first completion counts
        channel_->result = result;
        // The object is lent for the call; the ComPtr takes a reference of its own.
        if (SUCCEEDED(result)) channel_->object = created;
        channel_->arrived = true;
        return S_OK;
    }

private:
    std::shared_ptr<Completion<Created>> channel_;
};

using EnvironmentCompletedHandler =
    CompletionHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, ICoreWebView2Environment>;
using ControllerCompletedHandler =
    CompletionHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, ICoreWebView2Controller>;

// ---- The page stays the only document: the navigation that NavigateToString starts goes
// through, every later one is cancelled, and no new window ever opens.

class NavigationHandler final : public ComObject<NavigationHandler, ICoreWebView2NavigationStartingEventHandler> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args) override;

private:
    bool page_started_ = false;
};

class NewWindowHandler final : public ComObject<NewWindowHandler, ICoreWebView2NewWindowRequestedEventHandler> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2NewWindowRequestedEventArgs* args) override;
};

// ---- The WebView2 processes: a browser process that has ended, or a page's render process that
// has ended or stopped responding, leaves the window without content for good. The handler
// marks the page lost and, unless an install is running (its request's handler does it once
// the install has returned), ends the window's message loop with kPageLostQuitCode. Other
// processes (GPU, utilities, frames) are replaced by the runtime and change nothing here.

struct BridgeState;  // page_bridge.h

class ProcessFailedHandler final : public ComObject<ProcessFailedHandler, ICoreWebView2ProcessFailedEventHandler> {
public:
    explicit ProcessFailedHandler(std::shared_ptr<BridgeState> state);
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args) override;

private:
    std::shared_ptr<BridgeState> state_;
};

// How the page is lost by a failure of that kind; none for the processes the runtime replaces.
std::optional<PageLoss> page_loss_of(COREWEBVIEW2_PROCESS_FAILED_KIND kind);

// ---- The page's messages: "ready" is answered with the init message, "install" runs the
// install handed in and is answered "done" or "error", "mail" has the window open the support
// mail link and "close" closes the window. Every other message is ignored. Any of the four shows
// that the page runs: it stops the window's watch for a page that never speaks (kPageReadyTimer).

class WebMessageHandler final : public ComObject<WebMessageHandler, ICoreWebView2WebMessageReceivedEventHandler> {
public:
    WebMessageHandler(std::shared_ptr<BridgeState> state, std::wstring init_message, HandedInstall install,
                      HWND window);

    // Succeeds for every message it reads or ignores; only a failed post of a reply comes back
    // to WebView2 as the result.
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args) override;

private:
    HRESULT answer_install(ICoreWebView2* webview);

    std::shared_ptr<BridgeState> state_;
    std::wstring init_message_;
    HandedInstall install_;
    HWND window_;
};
