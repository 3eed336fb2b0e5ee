#include "environment.h"

#include <windows.h>

std::optional<std::wstring> environment_value(const wchar_t* name) {
    // An empty value also makes the call return 0; only a changed last error tells them apart.
    SetLastError(ERROR_SUCCESS);
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) {
        if (GetLastError() != ERROR_SUCCESS) return std::nullopt;
        return std::wstring();
    }
    for (;;) {
        std::wstring value(needed, L'\0');
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
        if (length == 0) {
            if (GetLastError() != ERROR_SUCCESS) return std::nullopt;
            return std::wstring();
        }
        if (length < needed) {
            value.resize(length);
            return value;
        }
        needed = length;  // the variable grew in between; try again with the new size
    }
}

bool environment_has(const wchar_t* name) { return environment_value(name).has_value(); }
