// The window's size and position as plain arithmetic, apart from the calls that apply them.
#pragma once
#include <windows.h>

// The client area at 96 DPI.
inline constexpr int kLogicalClientWidth = 640;
inline constexpr int kLogicalClientHeight = 400;
inline constexpr UINT kBaseDpi = 96;

// The window's own colour (class brush, title bar, border) and its title text colour. The page's
// --background in ui/style.css is the same colour, so nothing flashes while the page loads; the page
// tests check that the two agree.
inline constexpr COLORREF kWindowColour = RGB(15, 13, 13);
inline constexpr COLORREF kTitleTextColour = RGB(244, 241, 236);

struct ClientSize {
    int width;
    int height;
};

// A reported DPI below 97 (including 0, from a system that cannot tell) counts as 96.
UINT effective_dpi(UINT reported_dpi);
// 640 x 400 scaled by dpi / 96, each side an integer division that drops the remainder.
ClientSize scaled_client_size(UINT dpi);
// Top-left corner that centres a window of the given outer size in the work area; signed
// divisions that round toward zero.
POINT centred_position(const RECT& work_area, int outer_width, int outer_height);
