#include "com_handlers.h"

#include <objbase.h>

#include <utility>

#include "page_bridge.h"
#include "page_protocol.h"
#include "text.h"
#include "window_procedure.h"

namespace {

// The page's message as UTF-8, or the empty text when it is not a string.
std::string read_message_text(ICoreWebView2WebMessageReceivedEventArgs* args) {
    LPWSTR raw = nullptr;
    // A failure means the page posted something other than a string; what is left in `raw`
    // then is not promised to be anything, so it is neither read nor freed.
    if (FAILED(args->TryGetWebMessageAsString(&raw))) return std::string();
    std::string text = raw != nullptr ? utf16_to_utf8(raw) : std::string();
    CoTaskMemFree(raw);
    return text;
}

}  // namespace

WebMessageHandler::WebMessageHandler(std::shared_ptr<BridgeState> state, std::wstring init_message,
                                     HandedInstall install, HWND window)
    : state_(std::move(state)), init_message_(std::move(init_message)), install_(std::move(install)), window_(window) {}

HRESULT STDMETHODCALLTYPE WebMessageHandler::Invoke(ICoreWebView2* sender,
                                                    ICoreWebView2WebMessageReceivedEventArgs* args) {
    if (sender == nullptr || args == nullptr) return S_OK;
    const std::string text = read_message_text(args);
    if (text.empty()) return S_OK;

    const PageRequest request = match_page_message(text);
    if (request == PageRequest::Unknown) return S_OK;
    // The page runs: no more waiting for its first word (a no-op once the timer is gone). Unless
    // the start was given up meanwhile (the message boxes have taken over): then the page gets
    // no answer, nothing is installed from here, and the window ends.
    if (!state_->start || !state_->start->page_spoke()) {
        PostQuitMessage(kPageLostQuitCode);
        return S_OK;
    }
    KillTimer(window_, kPageReadyTimer);
    switch (request) {
        case PageRequest::Ready: return sender->PostWebMessageAsString(init_message_.c_str());
        case PageRequest::Install: return answer_install(sender);
        // Opened by the window procedure, outside this event (see kOpenSupportMail in window_procedure.h).
        case PageRequest::Mail: PostMessageW(window_, kOpenSupportMail, 0, 0); return S_OK;
        case PageRequest::Close: PostMessageW(window_, WM_CLOSE, 0, 0); return S_OK;
        case PageRequest::Unknown: return S_OK;
    }
    return S_OK;
}

HRESULT WebMessageHandler::answer_install(ICoreWebView2* webview) {
    state_->installing = true;
    // Without an action there is nothing that could install: a failure with no text.
    const Status outcome = install_ ? install_() : Status::failure(std::string());
    state_->installing = false;
    // A later attempt's outcome replaces an earlier one's.
    state_->last_install = outcome;
    const HRESULT posted = webview->PostWebMessageAsString(utf8_to_utf16(install_reply(outcome)).c_str());
    // A process failure reported while the install ran: its outcome stands, and the window now
    // ends as it would have then.
    if (state_->lost) PostQuitMessage(kPageLostQuitCode);
    return posted;
}

ProcessFailedHandler::ProcessFailedHandler(std::shared_ptr<BridgeState> state) : state_(std::move(state)) {}

std::optional<PageLoss> page_loss_of(COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
    switch (kind) {
        case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED: return PageLoss::BrowserProcessExited;
        case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED: return PageLoss::RenderProcessExited;
        case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE: return PageLoss::RenderProcessUnresponsive;
        default: return std::nullopt;  // replaced by the runtime
    }
}

HRESULT STDMETHODCALLTYPE ProcessFailedHandler::Invoke(ICoreWebView2*, ICoreWebView2ProcessFailedEventArgs* args) {
    COREWEBVIEW2_PROCESS_FAILED_KIND kind{};
    if (args == nullptr || FAILED(args->get_ProcessFailedKind(&kind))) return S_OK;
    const std::optional<PageLoss> loss = page_loss_of(kind);
    if (!loss || state_->lost) return S_OK;
    state_->lost = loss;
    // The message loop ends; the window then decides between the message boxes and the outcome
    // of an install already made. Not from inside a running install: see answer_install.
    if (!state_->installing) PostQuitMessage(kPageLostQuitCode);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE NavigationHandler::Invoke(ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) {
    if (!page_started_) {
        page_started_ = true;  // the page itself: let it load
        return S_OK;
    }
    // A link, a location change by script, a reload or a form: the page stays as it is.
    if (args != nullptr) args->put_Cancel(TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE NewWindowHandler::Invoke(ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs* args) {
    // Handled without a window supplied: nothing opens, whatever asked for it.
    if (args != nullptr) args->put_Handled(TRUE);
    return S_OK;
}
