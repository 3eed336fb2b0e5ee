// Waiting for a WebView2 completion on the window's thread. WebView2 delivers completions
// through this thread's message loop, so the wait keeps dispatching messages until the
// completion handler has handed its result over, or until its deadline has passed: a runtime
// whose start never completes (a locked-down profile, a security product) must not leave the
// user with nothing on screen.
#pragma once
#include <windows.h>
#include <wrl/client.h>

#include <memory>

// A moment on the GetTickCount64 clock after which a wait gives up.
using Deadline = ULONGLONG;

// The deadline `limit_ms` from now.
Deadline deadline_after(unsigned long limit_ms);

// Milliseconds from `now` until `deadline`; 0 once it has passed.
DWORD milliseconds_left(ULONGLONG now, Deadline deadline);

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
// HRESULT_FROM_WIN32(ERROR_TIMEOUT) once `deadline` has passed; the system's error when the
// wait for messages fails; HRESULT_FROM_WIN32(ERROR_CANCELLED) when the quit message arrives
// first (it is consumed).
HRESULT pump_messages_until(const bool& arrived, Deadline deadline);

// The completion's object, or why there is none: the wait's failure, the completion's failure
// code, or E_POINTER for a success that delivered no object. A wait that fails gives the
// channel up.
template <class T>
HRESULT wait_with_pump(Completion<T>& completion, Deadline deadline, Microsoft::WRL::ComPtr<T>& created) {
    const HRESULT waited = pump_messages_until(completion.arrived, deadline);
    if (FAILED(waited)) {
        completion.given_up = true;
        return waited;
    }
    if (FAILED(completion.result)) return completion.result;
    if (!completion.object) return E_POINTER;
    created = completion.object;
    return S_OK;
}
