// "Resolve the folder, then install": the one install every run mode makes. The quiet run calls
// it; the window and the message-box dialogue are handed it.
#pragma once
#include <functional>

#include "host_search.h"
#include "placement.h"
#include "result.h"

// Runs one install; its failure text is shown to the user verbatim.
using InstallAction = std::function<Status()>;

// What an install takes from outside, read once by the driver: where the folder comes from and
// whose host to wait for.
struct InstallInputs {
    FolderVariables folder;
    HostSearch host;
};

// Resolves the plug-in folder, then installs into it. A failure goes to the run log
// ("install failed: " and its text) before it is returned.
Status install_into_resolved_folder(const InstallInputs& inputs);
