#include "wait_with_pump.h"

Deadline deadline_after(unsigned long limit_ms) { return GetTickCount64() + limit_ms; }

DWORD milliseconds_left(ULONGLONG now, Deadline deadline) {
    if (now >= deadline) return 0;
    const ULONGLONG left = deadline - now;
    // INFINITE is not a limit: anything that long is capped just below it.
    return left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left);
}

HRESULT pump_messages_until(const bool& arrived, Deadline deadline) {
    MSG message;
    while (!arrived) {
        // Looked at before every message, so that a steady stream of them cannot keep the wait going.
        const DWORD left = milliseconds_left(GetTickCount64(), deadline);
        if (left == 0) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            // MWMO_INPUTAVAILABLE: also wakes for messages that are queued but were already seen.
            if (MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_FAILED) {
                const DWORD error = GetLastError();
                return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
            }
            continue;
        }
        if (message.message == WM_QUIT) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return S_OK;
}
