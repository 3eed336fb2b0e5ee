#include "install_action.h"

#include <string>

#include "run_log.h"

Status install_into_resolved_folder(const InstallInputs& inputs) {
    const Result<std::wstring> folder = resolve_plugin_folder(inputs.folder);
    const Result<std::wstring> installed = folder.ok() ? install_plugin(folder.value(), inputs.host)
                                                       : Result<std::wstring>::failure(folder.error());
    if (installed.ok()) return Status::success();
    log_event("install failed: " + installed.error());
    return Status::failure(installed.error());
}
