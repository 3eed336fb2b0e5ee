#include "navigation_handlers.h"

HRESULT STDMETHODCALLTYPE NavigationHandler::Invoke(ICoreWebView2*,
                                                    ICoreWebView2NavigationStartingEventArgs* args) {
    if (!page_started_) {
        page_started_ = true;  // the page itself: let it load
        return S_OK;
    }
    // A link, a location change by script, a reload or a form: the page stays as it is.
    if (args != nullptr) args->put_Cancel(TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE NewWindowHandler::Invoke(ICoreWebView2*,
                                                   ICoreWebView2NewWindowRequestedEventArgs* args) {
    // Handled without a window supplied: nothing opens, whatever asked for it.
    if (args != nullptr) args->put_Handled(TRUE);
    return S_OK;
}
