// The two completion handlers of start-up: each hands WebView2's result (a code and the created
// object) to the waiting code through a shared Completion. The channel is shared because
// WebView2 keeps the handler, and may call it, after a failed wait has given up.
#pragma once
#include <memory>

#include "com_object.h"
#include "wait_with_pump.h"
#include "webview2.h"

template <class HandlerInterface, class Created>
class CompletionHandler final : public ComObject<CompletionHandler<HandlerInterface, Created>, HandlerInterface> {
public:
    explicit CompletionHandler(std::shared_ptr<Completion<Created>> channel) : channel_(std::move(channel)) {}

    HRESULT STDMETHODCALLTYPE Invoke(HRESULT result, Created* created) override {
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
