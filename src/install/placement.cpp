#include "placement.h"

#include <windows.h>

#include <optional>

#include "embedded.h"
#include "file_ops.h"
#include "folder_lock.h"
#include "host_settings.h"
#include "host_watch.h"
#include "os_error.h"
#include "paths.h"
#include "run_log.h"
#include "text.h"

namespace {

using InstallOutcome = Result<std::wstring>;

constexpr int kSetAsideNames = 100;  // kSetAsideName, then with 1 to 99 after it

std::wstring set_aside_path(const std::wstring& folder, int index) {
    std::wstring name(kSetAsideName);
    if (index > 0) name += wide_decimal(static_cast<unsigned>(index));
    return join_path(folder, name);
}

}  // namespace

Result<std::wstring> set_module_aside(const std::wstring& folder, const std::wstring& installed) {
    for (int i = 0; i < kSetAsideNames; ++i) {
        const std::wstring copy = set_aside_path(folder, i);
        if (file_exists(copy) && !delete_file(copy).ok()) continue;
        const Status moved = move_file(installed, copy);
        if (!moved.ok()) return Result<std::wstring>::failure(path_failure(installed, moved.error()));
        return Result<std::wstring>::success(copy);
    }
    return Result<std::wstring>::failure("no se pudo apartar la versi\u00F3n anterior");
}

namespace {

bool is_read_only(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// Puts the new module in place so that the folder always holds a whole module: one move over the
// earlier module where the system allows it; else the earlier module goes aside first and comes
// back should the new one still not move in. A read-only earlier module that no name is free for
// counts as deletable and is replaced after its deletion. Gives this run's set-aside copy, if it
// made one. On every failure the temporary file goes with its owner (TemporaryFile).
Result<std::optional<std::wstring>> place_module(const std::wstring& folder, const std::wstring& installed,
                                                 TemporaryFile& temporary) {
    using Placed = Result<std::optional<std::wstring>>;
    const Status replaced = temporary.place(installed);
    if (replaced.ok()) return Placed::success(std::nullopt);
    if (!file_exists(installed)) return Placed::failure(path_failure(installed, replaced.error()));
    Result<std::wstring> aside = set_module_aside(folder, installed);
    if (!aside.ok()) {
        if (is_read_only(installed) && delete_file(installed).ok()) {
            const Status placed = temporary.place(installed);
            if (placed.ok()) return Placed::success(std::nullopt);
            return Placed::failure(path_failure(installed, placed.error()));
        }
        return Placed::failure(aside.error());
    }
    if (Status placed = temporary.place(installed); !placed.ok()) {
        ignore_failure(move_file(aside.value(), installed));  // put the earlier module back where it can
        return Placed::failure(path_failure(installed, placed.error()));
    }
    return Placed::success(std::move(aside.value()));
}

bool is_set_aside_name(std::wstring_view name) { return name.starts_with(kSetAsideName); }

// Copies set aside by earlier runs go once the host has let go of them. `tried` (this run's
// copy, already tried) is not tried again.
void remove_stale_copies(const std::wstring& folder, const std::optional<std::wstring>& tried) {
    const Result<std::vector<std::wstring>> listing = list_folder(folder);
    if (!listing.ok()) return;
    for (const std::wstring& name : listing.value()) {
        if (!is_set_aside_name(name)) continue;
        const std::wstring path = join_path(folder, name);
        if (tried && path == *tried) continue;
        ignore_failure(delete_file(path));
    }
}

// The host must be told to load plug-ins it does not recognise; its preferences live in
// "Settings" beside the plug-in folder. Nothing here can fail the installation. The parent is
// taken from the folder's full form, so that "Plugins\." or "x\Plugins\.." give the Settings
// beside the folder the module really went into. The empty folder has none.
void bring_host_settings_into_line(const std::wstring& folder, const HostSearch& host) {
    if (folder.empty()) return;
    const std::optional<std::wstring> parent = parent_path(full_path(folder).value_or(folder));
    if (!parent) return;
    const std::wstring settings = join_path(join_path(*parent, L"Settings"), L"PhotoshopPluginsPreferences.xml");
    const Result<SettingsOutcome> updated = update_host_settings(settings);
    log_settings_update("host settings", updated, settings);
    if (!updated.ok() || updated.value() != SettingsOutcome::Written) return;
    // Nobody but the log is left to tell of a later failure: the installation has long been reported.
    start_host_watch(host, [settings] {
        log_settings_update("host settings after the host quit", update_host_settings(settings), settings);
    });
}

}  // namespace

Result<std::wstring> resolve_plugin_folder(const FolderVariables& variables) {
    if (variables.chosen_folder) return Result<std::wstring>::success(*variables.chosen_folder);
    if (variables.user_profile) {
        std::wstring folder = *variables.user_profile;
        for (const wchar_t* component : {L".affinity", L"Affinity", L"3.0", L"Plugins"})
            folder = join_path(folder, component);
        return Result<std::wstring>::success(std::move(folder));
    }
    return Result<std::wstring>::failure("no se encontr\u00F3 la carpeta del usuario (USERPROFILE).");
}

InstallOutcome install_plugin(const std::wstring& folder, const HostSearch& host) {
    const std::wstring installed = join_path(folder, kModuleName);
    const std::wstring temporary_path = join_path(folder, kTemporaryName);
    log_path_event("plug-in folder", folder);

    if (Status made = create_folder(folder); !made.ok())
        return InstallOutcome::failure(path_failure(folder, made.error()));

    // A second setup on this folder, however it spells it, would share the temporary files: it
    // waits for this one, for a while.
    const Result<FolderLock> one_setup_at_a_time = lock_folder(folder);
    if (!one_setup_at_a_time.ok()) return InstallOutcome::failure(path_failure(folder, one_setup_at_a_time.error()));

    // The folder must never hold a half-written module: write beside it, then move once.
    const EmbeddedBytes module = plugin_module();
    Result<TemporaryFile> temporary = TemporaryFile::write(temporary_path, module.data, module.size);
    if (!temporary.ok()) return InstallOutcome::failure(path_failure(temporary_path, temporary.error()));

    Result<std::optional<std::wstring>> placed = place_module(folder, installed, temporary.value());
    if (!placed.ok()) return InstallOutcome::failure(placed.error());
    // A copy that the host does not hold (a read-only module was set aside) is not kept.
    const std::optional<std::wstring>& copy = placed.value();
    log_path_event("module placed", installed);
    if (copy && !delete_file(*copy).ok()) log_path_event("earlier module in use, set aside", *copy);

    remove_stale_copies(folder, copy);
    bring_host_settings_into_line(folder, host);
    return InstallOutcome::success(installed);
}
