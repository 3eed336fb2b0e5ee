// Waiting for a WebView2 completion on the window's thread. WebView2 delivers completions
// through this thread's message loop, so the wait keeps dispatching messages until the
// completion handler has handed its result over.
#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <memory>

// The channel between a completion handler and the waiting code: the handler fills it once.
template <class T>
struct Completion {
    bool arrived = false;
    HRESULT result = E_PENDING;
    Microsoft::WRL::ComPtr<T> object;
};

// Gets, translates and dispatches the thread's messages until `arrived` is true (checked before
// every message, so a completion delivered before the wait needs none). S_OK once it is;
// the system's error when GetMessageW fails; HRESULT_FROM_WIN32(ERROR_CANCELLED) when the quit
// message arrives first (it is consumed).
HRESULT pump_messages_until(const bool& arrived);

// The completion's object, or why there is none: the wait's failure, the completion's failure
// code, or E_POINTER for a success that delivered no object.
template <class T>
HRESULT wait_with_pump(const Completion<T>& completion, Microsoft::WRL::ComPtr<T>& created) {
    const HRESULT waited = pump_messages_until(completion.arrived);
    if (FAILED(waited)) return waited;
    if (FAILED(completion.result)) return completion.result;
    if (!completion.object) return E_POINTER;
    created = completion.object;
    return S_OK;
}
