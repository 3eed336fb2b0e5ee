// Late-bound system calls: functions that older Windows versions lack, and dwmapi.dll, found at
// run time so the executable still starts there. Every library comes from the system folder by
// its full path, never through the search order (which would include the folder the setup was
// started from).
// A missing library or function is reported as a failure the caller may ignore.
#pragma once
#include <windows.h>

#include <string>

#include "system_library.h"

// SetProcessDpiAwarenessContext(PER_MONITOR_AWARE_V2); false when missing or refused.
bool make_process_per_monitor_dpi_aware();
// GetDpiForWindow; 0 when the function is missing.
UINT dpi_for_window(HWND window);
// AdjustWindowRectExForDpi (no menu); false when missing or failed.
bool adjust_window_rect_for_dpi(RECT& rect, DWORD style, DWORD extended_style, UINT dpi);
// GetSystemMetricsForDpi; where the system lacks it, the system-DPI metric (GetSystemMetrics).
int system_metric_for_dpi(int index, UINT dpi);
// DwmSetWindowAttribute; a failure HRESULT when dwmapi or the function is missing.
HRESULT set_window_attribute(HWND window, DWORD attribute, DWORD value);
// GetTempPath2W where the system has it, else GetTempPathW; empty when both fail.
std::wstring temporary_folder();

// user32, gdi32, ole32 and shell32 are not looked up here: every Windows has them, and the
// executable takes them through delay imports (cmake/DelayLoad.cmake), loaded on first call.
