// Waiting for a WebView2 completion on the window's thread. WebView2 delivers completions
// through this thread's message loop, so the wait keeps dispatching messages until the
// completion handler has handed its result over, or until the start's deadline has passed: a
// runtime whose start never completes (a locked-down profile, a security product) must not leave
// the user with nothing on screen.
#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <memory>

#include "start_watch.h"

// The channel between a completion handler and the waiting code: the handler fills it once.
// A wait that gave up marks it, so that a completion arriving afterwards keeps nothing.
template <class T>
struct Completion {
    bool arrived = false;
    bool given_up = false;
    HRESULT result = E_PENDING;
    Microsoft::WRL::ComPtr<T> object;
};

// Gets, translates and dispatches the thread's messages until `arrived` is true (checked before
// every message, so a completion delivered before the wait needs none). S_OK once it is;
// HRESULT_FROM_WIN32(ERROR_TIMEOUT) once the start's deadline has passed; the system's error
// when the wait for messages fails; HRESULT_FROM_WIN32(ERROR_CANCELLED) when the quit message
// arrives first (it is consumed) or the start is no longer `starting` (given up or closed
// from the watching thread).
HRESULT pump_messages_until(const bool& arrived, const StartWatch& watch);

// The completion's object, or why there is none: the wait's failure, the completion's failure
// code, or E_POINTER for a success that delivered no object. A wait that fails gives the
// channel up.
template <class T>
HRESULT wait_with_pump(Completion<T>& completion, const StartWatch& watch, Microsoft::WRL::ComPtr<T>& created) {
    const HRESULT waited = pump_messages_until(completion.arrived, watch);
    if (FAILED(waited)) {
        completion.given_up = true;
        return waited;
    }
    if (FAILED(completion.result)) return completion.result;
    if (!completion.object) return E_POINTER;
    created = completion.object;
    return S_OK;
}
