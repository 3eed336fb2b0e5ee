#include "wait_with_pump.h"

HRESULT pump_messages_until(const bool& arrived) {
    MSG message;
    while (!arrived) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) {
            const DWORD error = GetLastError();
            return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
        }
        if (got == 0) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return S_OK;
}
