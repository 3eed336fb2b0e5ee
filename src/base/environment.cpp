#include "environment.h"

#include <windows.h>

#include "grown_buffer.h"

std::optional<std::wstring> environment_value(const wchar_t* name) {
    std::optional<std::wstring> value = read_grown_text([name](wchar_t* buffer, DWORD capacity) {
        // An empty value also makes the call return 0; only a changed last error tells them apart.
        SetLastError(ERROR_SUCCESS);
        return GetEnvironmentVariableW(name, buffer, capacity);
    });
    if (!value && GetLastError() == ERROR_SUCCESS) return std::wstring();
    return value;
}

bool environment_has(const wchar_t* name) { return environment_value(name).has_value(); }
