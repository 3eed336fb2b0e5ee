#include "removal.h"

#include "file_ops.h"
#include "folder_lock.h"
#include "host_watch.h"
#include "os_error.h"
#include "paths.h"
#include "placement.h"
#include "run_log.h"

namespace {

Status remove_module(const std::wstring& folder, const std::wstring& installed) {
    if (!file_exists(installed)) return Status::success();
    const Status deleted = delete_file(installed);
    if (deleted.ok()) {
        log_path_event("module deleted", installed);
        return Status::success();
    }
    const Result<std::wstring> aside = set_module_aside(folder, installed);
    if (!aside.ok()) return Status::failure(aside.error());
    log_path_event("module in use, set aside", aside.value());
    return Status::success();
}

// Deletes every set-aside copy it can, the one just made included; true when none is left.
bool delete_set_aside_copies(const std::wstring& folder) {
    const Result<std::vector<std::wstring>> listing = list_folder(folder);
    if (!listing.ok()) return true;
    bool all_gone = true;
    for (const std::wstring& name : listing.value()) {
        if (!name.starts_with(kSetAsideName)) continue;
        const std::wstring path = join_path(folder, name);
        const Status deleted = delete_file(path);
        if (deleted.ok()) {
            log_path_event("set-aside copy deleted", path);
        } else {
            log_event("set-aside copy kept for now: " + path_failure(path, deleted.error()));
            all_gone = false;
        }
    }
    return all_gone;
}

// Once the host has let go of them; copies a later host run still holds go with the next install
// or removal.
void remove_set_aside_copies(const std::wstring& folder) {
    const Result<FolderLock> one_setup_at_a_time = lock_folder(folder);
    if (one_setup_at_a_time.ok()) delete_set_aside_copies(folder);
}

}  // namespace

Status remove_plugin(const std::wstring& folder, const HostSearch& host) {
    log_path_event("plug-in folder", folder);
    const std::wstring installed = join_path(folder, kModuleName);
    // No folder, nothing installed; the lock is named after the folder, so it must exist. A folder
    // that could not be looked at (a server, share or drive out of reach) may well hold a module.
    if (!folder.empty()) {
        const Result<FileKind> seen = seen_file_kind(folder);
        if (!seen.ok()) return Status::failure(path_failure(folder, seen.error()));
        if (seen.value() != FileKind::Folder) return Status::success();
    }
    bool copies_left = false;
    {
        // An install running at the same time would put a module back in between.
        const Result<FolderLock> one_setup_at_a_time = lock_folder(folder);
        if (!one_setup_at_a_time.ok()) return Status::failure(path_failure(folder, one_setup_at_a_time.error()));
        const std::wstring temporary = join_path(folder, kTemporaryName);
        if (file_exists(temporary) && delete_file(temporary).ok()) log_path_event("temporary file deleted", temporary);
        if (Status removed = remove_module(folder, installed); !removed.ok()) return removed;
        copies_left = !delete_set_aside_copies(folder);
        if (file_exists(installed)) return Status::failure(path_failure(installed, "el archivo sigue en la carpeta"));
    }
    // Copies the running host holds go once it has quit; the process waits for that as an
    // install does.
    if (copies_left) start_host_watch(host, [folder] { remove_set_aside_copies(folder); });
    return Status::success();
}
