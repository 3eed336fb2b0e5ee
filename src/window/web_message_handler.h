// The handler of the page's messages: answers "ready" with the init message, runs an install
// on "install" and answers "done" or "error", has the window open the support mail link on
// "mail" and closes the window on "close". Every other message is ignored.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "com_object.h"
#include "page_setup.h"
#include "webview2.h"

// What the bridge and its web-message handler share: whether the most recent install request
// failed. Set from each install's outcome, read once when the bridge closes.
struct BridgeState {
    bool last_install_failed = false;
};

class WebMessageHandler final : public ComObject<WebMessageHandler, ICoreWebView2WebMessageReceivedEventHandler> {
public:
    WebMessageHandler(std::shared_ptr<BridgeState> state, std::wstring init_message, InstallAction install,
                      HWND window);

    // Succeeds for every message it reads or ignores; only a failed post of a reply comes back
    // to WebView2 as the result.
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                     ICoreWebView2WebMessageReceivedEventArgs* args) override;

private:
    HRESULT answer_install(ICoreWebView2* webview);

    std::shared_ptr<BridgeState> state_;
    std::wstring init_message_;
    InstallAction install_;
    HWND window_;
};
