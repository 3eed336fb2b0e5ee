#include "wait_with_pump.h"

#include <algorithm>

#include "os_error.h"

HRESULT pump_messages_until(const bool& arrived, const StartWatch& watch) {
    MSG message;
    const Deadline deadline = watch.start_deadline();
    while (!arrived) {
        // The watching thread may have settled the start (a close it was sent, say).
        if (!watch.starting()) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
        // Looked at before every message, so that a steady stream of them cannot keep the wait going.
        const DWORD left = milliseconds_left(GetTickCount64(), deadline);
        if (left == 0) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            // MWMO_INPUTAVAILABLE: also wakes for messages that are queued but were already seen.
            // At most a tenth of a second at a time, to notice a start settled elsewhere.
            if (MsgWaitForMultipleObjectsEx(0, nullptr, std::min<DWORD>(left, 100), QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
                WAIT_FAILED)
                return last_error_as_hresult();
            continue;
        }
        if (message.message == WM_QUIT) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return S_OK;
}
