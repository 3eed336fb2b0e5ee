// The installer window: a fixed-size, DPI-aware window that hosts the installer page.
#pragma once
#include "languages.h"
#include "window_result.h"

// Runs the window and its message loop on the calling thread until it has closed; returns
// NotShown at once when it cannot be brought up.
WindowResult run_installer_window(UiLanguage language);
