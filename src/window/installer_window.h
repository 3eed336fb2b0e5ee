// The installer window: a fixed-size, DPI-aware window that hosts the installer page.
#pragma once
#include "page_setup.h"
#include "window_result.h"

// Runs the window and its message loop on a thread of its own, showing the page with `setup`'s
// init data and running its install there on request, and watches that thread from the calling
// one (start_watch.h says why). Returns when the window has closed, when its start failed, was
// closed or was given up, or when its page was lost. After GivenUp the window's thread may still
// be blocked inside a WebView2 call: it shows and installs nothing from then on, and the caller
// ends the process (not merely returns) once its message boxes are done.
WindowOutcome run_installer_window(const PageSetup& setup);
