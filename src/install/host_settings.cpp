// The file side of the preferences edit: read, edit (settings_edit.cpp), write beside, move over.
#include "host_settings.h"

#include <windows.h>

#include <optional>

#include "file_ops.h"
#include "folder_lock.h"
#include "os_error.h"
#include "paths.h"
#include "settings_edit.h"
#include "win32_handles.h"

namespace {

// The background task and a later installation could otherwise write the same temporary file;
// so could another setup's, hence the folder's cross-process lock as well.
SRWLOCK settings_lock = SRWLOCK_INIT;

// File not found, path not found, invalid drive, network path or name not found.
bool means_absent(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_DRIVE ||
           code == ERROR_BAD_NETPATH || code == ERROR_BAD_NET_NAME;
}

// The file's bytes; none when the file is not there, which is not a failure: it is then created.
using FileRead = Result<std::optional<std::string>>;

FileRead read_failure(DWORD code) {
    if (means_absent(code)) return FileRead::success(std::nullopt);
    return FileRead::failure(os_error_reason(code));
}

// The host may hold its preferences open, so every kind of sharing is allowed.
FileRead read_whole_file(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return read_failure(GetLastError());
    std::string bytes;
    char chunk[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) return read_failure(GetLastError());
        if (got == 0) return FileRead::success(std::move(bytes));
        bytes.append(chunk, got);
    }
}

// "PhotoshopPluginsPreferences.xml" → "PhotoshopPluginsPreferences.xml.new".
std::wstring temporary_path(const std::wstring& path) {
    const std::size_t name_start = path.size() - last_component(path).size();
    const std::size_t dot = path.rfind(L'.');
    const bool has_extension = dot != std::wstring::npos && dot > name_start;
    return (has_extension ? path.substr(0, dot) : path) + L".xml.new";
}

using SettingsUpdate = Result<SettingsOutcome>;

SettingsUpdate failure(const std::wstring& path, std::string_view reason) {
    return SettingsUpdate::failure(path_failure(path, reason));
}

SettingsUpdate write_settings(const std::wstring& path, std::string_view text) {
    Result<TemporaryFile> temporary = TemporaryFile::write(temporary_path(path), text.data(), text.size());
    if (!temporary.ok()) return failure(path, temporary.error());
    if (Status moved = temporary.value().place(path); !moved.ok()) {
        temporary.value().discard();
        return failure(path, moved.error());
    }
    return SettingsUpdate::success(SettingsOutcome::Written);
}

}  // namespace

SettingsUpdate update_host_settings(const std::wstring& settings_path) {
    ExclusiveLock guard(settings_lock);
    // The folder is made before the lock is taken, so that the lock is named after the folder
    // itself; a folder that cannot be made fails here as the write would.
    const std::optional<std::wstring> folder = parent_path(settings_path);
    if (folder) {
        if (Status made = create_folder(*folder); !made.ok()) return failure(settings_path, made.error());
    }
    const Result<FolderLock> other_setups = lock_folder(folder.value_or(std::wstring()));
    if (!other_setups.ok()) return failure(settings_path, other_setups.error());
    const FileRead read = read_whole_file(settings_path);
    if (!read.ok()) return failure(settings_path, read.error());
    if (!read.value()) return write_settings(settings_path, new_settings_text());
    const SettingsEdit edit = edit_host_settings(*read.value());
    if (!edit.ok()) return failure(settings_path, edit.error());
    if (!edit.value()) return SettingsUpdate::success(SettingsOutcome::AlreadyAllowed);
    return write_settings(settings_path, *edit.value());
}
