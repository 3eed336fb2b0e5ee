#include "late_bound_calls.h"

namespace {

using SetProcessDpiAwarenessContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
using DwmSetWindowAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, const void*, DWORD);
using GetTempPath2WFn = DWORD(WINAPI*)(DWORD, wchar_t*);

}  // namespace

bool make_process_per_monitor_dpi_aware() {
    static const auto set_awareness = system_function<SetProcessDpiAwarenessContextFn>(L"user32.dll",
                                                                                       "SetProcessDpiAwarenessContext");
    return set_awareness != nullptr && set_awareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) != FALSE;
}

UINT dpi_for_window(HWND window) {
    static const auto get_dpi = system_function<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
    return get_dpi != nullptr ? get_dpi(window) : 0;
}

bool adjust_window_rect_for_dpi(RECT& rect, DWORD style, DWORD extended_style, UINT dpi) {
    static const auto adjust = system_function<AdjustWindowRectExForDpiFn>(L"user32.dll", "AdjustWindowRectExForDpi");
    return adjust != nullptr && adjust(&rect, style, FALSE, extended_style, dpi) != FALSE;
}

int system_metric_for_dpi(int index, UINT dpi) {
    static const auto metric = system_function<GetSystemMetricsForDpiFn>(L"user32.dll", "GetSystemMetricsForDpi");
    return metric != nullptr ? metric(index, dpi) : GetSystemMetrics(index);
}

HRESULT set_window_attribute(HWND window, DWORD attribute, DWORD value) {
    static const auto set_attribute = system_function<DwmSetWindowAttributeFn>(L"dwmapi.dll", "DwmSetWindowAttribute");
    if (set_attribute == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return set_attribute(window, attribute, &value, sizeof(value));
}

std::wstring temporary_folder() {
    static const auto get_temp_path2 = system_function<GetTempPath2WFn>(L"kernel32.dll", "GetTempPath2W");
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = get_temp_path2 != nullptr ? get_temp_path2(MAX_PATH + 1, buffer)
                                                   : GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return std::wstring();
    return std::wstring(buffer, length);
}
