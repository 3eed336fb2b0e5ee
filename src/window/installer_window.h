// The installer window: a fixed-size, DPI-aware window that hosts the installer page.
#pragma once
#include "page_setup.h"
#include "window_result.h"

// Runs the window and its message loop on the calling thread until it has closed, showing the
// page with `setup`'s init data and running its install on request; returns NotShown at once
// when it cannot be brought up.
WindowResult run_installer_window(const PageSetup& setup);
