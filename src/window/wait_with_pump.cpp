#include "wait_with_pump.h"

#include "os_error.h"

HRESULT pump_messages_until(const bool& arrived) {
    MSG message;
    while (!arrived) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == -1) return last_error_as_hresult();
        if (got == 0) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return S_OK;
}
