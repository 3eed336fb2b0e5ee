// What the installer window is handed by run_setup: what the page shows and what its install
// request runs. The window reads neither the environment nor the settings itself, nor does it
// know how an install is made; tests hand it a fake install.
#pragma once
#include <functional>
#include <optional>
#include <string>

#include "result.h"

// The install the window is handed: runs one install and gives its outcome; the failure text
// goes to the page verbatim.
using HandedInstall = std::function<Status()>;

struct PageSetup {
    // The init message's fields: "lang", "version", "path" (the folder as the system gave it,
    // empty when it could not be resolved) and "auto".
    std::string language_code;
    std::string version;
    std::wstring plugin_folder;
    bool auto_start = false;
    // The page's developer tools (off in every ordinary run).
    bool devtools = false;
    // LOCALAPPDATA as the process found it (set but empty counts as set), for the browser profile.
    std::optional<std::wstring> local_app_data;
    // Runs one install on the window's thread, inside the page's message event; the message loop
    // waits until it returns. Its failure text goes to the page verbatim.
    HandedInstall install;
};
