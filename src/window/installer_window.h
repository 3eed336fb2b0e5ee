// The installer window: a fixed-size, DPI-aware window that hosts the installer page.
#pragma once
#include "page_setup.h"
#include "window_result.h"

// Runs the window and its message loop on the calling thread until it has closed, showing the
// page with `setup`'s init data and running its install on request. NotShown when it cannot be
// brought up (WebView2 missing, or not started within its time limit), and when its page is lost
// before any install (a WebView2 process failed, or the page never spoke); a page lost after an
// install hands that install's outcome back with the result.
WindowOutcome run_installer_window(const PageSetup& setup);
