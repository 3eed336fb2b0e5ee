// "Resolve the folder, then install": the one install every run mode makes. The quiet run calls
// it; the window and the message-box dialogue are handed it.
#pragma once
#include <functional>

#include "result.h"

// Runs one install; its failure text is shown to the user verbatim.
using InstallAction = std::function<Status()>;

// Resolves the plug-in folder afresh (a changed environment counts), then installs into it. A
// failure goes to the run log ("install failed: " and its text) before it is returned.
Status install_into_resolved_folder();
