#include "install_action.h"

#include <string>

#include "placement.h"

Status install_into_resolved_folder() {
    const Result<std::wstring> folder = resolve_plugin_folder();
    if (!folder.ok()) return Status::failure(folder.error());
    const Result<std::wstring> installed = install_plugin(folder.value());
    return installed.ok() ? Status::success() : Status::failure(installed.error());
}
