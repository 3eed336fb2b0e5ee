#include "install_action.h"

#include <string>

#include "placement.h"
#include "run_log.h"

Status install_into_resolved_folder() {
    const Result<std::wstring> folder = resolve_plugin_folder();
    const Result<std::wstring> installed = folder.ok() ? install_plugin(folder.value())
                                                       : Result<std::wstring>::failure(folder.error());
    if (installed.ok()) return Status::success();
    log_event("install failed: " + installed.error());
    return Status::failure(installed.error());
}
