// The handlers that keep the page the only document: the navigation that NavigateToString
// starts goes through, every later one is cancelled, and no new window ever opens.
#pragma once
#include "com_object.h"
#include "webview2.h"

class NavigationHandler final : public ComObject<NavigationHandler, ICoreWebView2NavigationStartingEventHandler> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                     ICoreWebView2NavigationStartingEventArgs* args) override;

private:
    bool page_started_ = false;
};

class NewWindowHandler final : public ComObject<NewWindowHandler, ICoreWebView2NewWindowRequestedEventHandler> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                     ICoreWebView2NewWindowRequestedEventArgs* args) override;
};
