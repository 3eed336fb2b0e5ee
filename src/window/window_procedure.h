// The installer window's procedure: destroy ends the message loop, size and focus go on to the
// WebView2 controller, a DPI change takes the size the system suggests, kOpenSupportMail opens
// the support mail link. Nothing else is handled; WM_CLOSE included, whose default processing
// destroys the window.
#pragma once
#include <windows.h>

LRESULT CALLBACK installer_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
