// The support mail link. The page asks for it inside WebView2's message event, where no modal UI
// may run; with no mail program set up the shell shows a modal "choose an app" dialogue. So the
// event only posts kOpenSupportMail to the window, and the window procedure opens the link.
#pragma once
#include <windows.h>

inline constexpr UINT kOpenSupportMail = WM_APP + 1;

// Opens "mailto:" and the support address with the shell's "open" verb, owned by `window`.
// The outcome is not looked at.
void open_support_mail(HWND window);
