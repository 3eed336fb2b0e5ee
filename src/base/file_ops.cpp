#include "file_ops.h"

#include <windows.h>

#include "grown_buffer.h"
#include <algorithm>

#include "os_error.h"
#include "paths.h"
#include "win32_handles.h"

namespace {

Status last_error_status() { return Status::failure(last_os_error_reason()); }

bool is_folder(const std::wstring& path) { return file_kind(path) == FileKind::Folder; }

// Windows 10 1809's extended disposition, declared here since the SDK headers gate it on a
// newer target version than this program needs.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
struct DispositionInfoEx {
    DWORD Flags;
};
constexpr DWORD kDispositionDelete = 0x01;
constexpr DWORD kDispositionPosixSemantics = 0x02;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

bool is_not_found(DWORD code) { return code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND; }

// Marks an open file for deletion with the read-only attribute ignored. Systems without the
// extended disposition class (older Windows, Wine) get the classic one, with the read-only
// attribute cleared first and put back when the deletion is still refused.
bool mark_for_deletion(HANDLE file) {
    DispositionInfoEx extended{kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
    if (SetFileInformationByHandle(file, kFileDispositionInfoEx, &extended, sizeof extended)) return true;
    const DWORD code = GetLastError();
    if (code != ERROR_INVALID_PARAMETER && code != ERROR_INVALID_FUNCTION && code != ERROR_NOT_SUPPORTED) return false;

    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
    const DWORD original = basic.FileAttributes;
    if (original & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO writable{};  // zero times leave the time stamps as they are
        writable.FileAttributes = (original & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
        if (!SetFileInformationByHandle(file, FileBasicInfo, &writable, sizeof writable)) return false;
    }
    FILE_DISPOSITION_INFO classic{};
    classic.DeleteFile = TRUE;
    if (SetFileInformationByHandle(file, FileDispositionInfo, &classic, sizeof classic)) return true;
    const DWORD refused = GetLastError();
    if (original & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO restore{};
        restore.FileAttributes = original;
        SetFileInformationByHandle(file, FileBasicInfo, &restore, sizeof restore);
    }
    SetLastError(refused);
    return false;
}

// A temporary file's name may hold anything a crash or another program left there. It is
// cleared without following it: DeleteFileW and RemoveDirectoryW take a link itself away,
// never its target, and RemoveDirectoryW takes a folder only when it is empty.
Status clear_name(const std::wstring& path) {
    const FileKind kind = file_kind(path);
    if (kind == FileKind::Missing) return Status::success();
    Status removed = Status::success();
    if (kind == FileKind::Folder) {
        if (!RemoveDirectoryW(path.c_str())) removed = last_error_status();
    } else {
        removed = delete_file(path);
    }
    // Gone meanwhile is as good as removed.
    if (!removed.ok() && file_kind(path) == FileKind::Missing) return Status::success();
    return removed;
}

// The path as the system's native layer takes it ("\??\C:\x", "\??\UNC\server\share\x"):
// a rename through a handle needs the full name, and a bare name would be taken relative to the
// current folder by some systems rather than to the file's own.
std::optional<std::wstring> native_path(const std::wstring& path) {
    std::optional<std::wstring> full = full_path(path);
    if (!full) return full;
    if (full->starts_with(L"\\\\?\\") || full->starts_with(L"\\\\.\\")) return L"\\??\\" + full->substr(4);
    if (full->starts_with(L"\\\\")) return L"\\??\\UNC\\" + full->substr(2);
    return L"\\??\\" + *full;
}

}  // namespace

Status create_folder(const std::wstring& path) {
    if (path.empty()) return Status::success();  // the current folder always exists
    if (CreateDirectoryW(path.c_str(), nullptr)) return Status::success();
    DWORD code = GetLastError();
    if (!is_not_found(code)) {
        if (is_folder(path)) return Status::success();
        return Status::failure(os_error_reason(code));
    }
    // A root that cannot be made (a missing drive, an unreachable share) ends the chain: its
    // reason is the one that tells.
    const auto parent = parent_path(path);
    if (!parent) return Status::failure(os_error_reason(code));
    if (Status made = create_folder(*parent); !made.ok()) return made;
    if (CreateDirectoryW(path.c_str(), nullptr)) return Status::success();
    code = GetLastError();
    if (is_folder(path)) return Status::success();
    return Status::failure(os_error_reason(code));
}

Result<TemporaryFile> TemporaryFile::write(const std::wstring& path, const void* data, size_t size) {
    using Written = Result<TemporaryFile>;
    if (Status cleared = clear_name(path); !cleared.ok()) return Written::failure(cleared.error());
    // CREATE_NEW never opens what stands at the name, so nothing is written through a link or
    // through another program's handle. Readers may look in; nobody may write, rename or delete.
    UniqueFileHandle file(CreateFileW(path.c_str(),
                                      GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Written::failure(last_os_error_reason());
    const auto* next = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file.get(), next, chunk, &written, nullptr)) return Written::failure(last_os_error_reason());
        if (written == 0) return Written::failure(std::string(kWriteStalled));
        next += written;
        size -= written;
    }
    return Written::success(TemporaryFile(std::move(file)));
}

Status TemporaryFile::place(const std::wstring& to) {
    const std::optional<std::wstring> target = native_path(to);
    if (!target) return last_error_status();
    // The name is counted in bytes and follows the fixed part of the structure.
    const size_t name_bytes = target->size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::copy(target->begin(), target->end(), rename->FileName);
    if (!SetFileInformationByHandle(file_.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size())))
        return last_error_status();
    file_.reset();
    return Status::success();
}

void TemporaryFile::discard() {
    if (file_) mark_for_deletion(file_.get());
    file_.reset();
}

bool file_exists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    // A link exists only when what it points to does.
    UniqueFileHandle target(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return static_cast<bool>(target);
}

FileKind file_kind(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Folder : FileKind::File;
}

Result<FileKind> seen_file_kind(const std::wstring& path) {
    using Seen = Result<FileKind>;
    // Relative paths and "." or ".." are walked up as the system resolves them.
    std::optional<std::wstring> look_at = full_path(path);
    if (!look_at) return Seen::failure(last_os_error_reason());
    for (bool asked_for = true;; asked_for = false) {
        const DWORD attributes = GetFileAttributesW(look_at->c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (!asked_for) return Seen::success(FileKind::Missing);
            return Seen::success((attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Folder : FileKind::File);
        }
        const DWORD code = GetLastError();
        if (!is_not_found(code)) return Seen::failure(os_error_reason(code));
        // Not found can also mean that the drive or the share itself is missing: only a folder
        // above it that can be read shows that the name is really free.
        look_at = parent_path(*look_at);
        if (!look_at) return Seen::failure(os_error_reason(code));
    }
}

Status delete_file(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) return Status::success();
    const DWORD code = GetLastError();
    if (code != ERROR_ACCESS_DENIED) return Status::failure(os_error_reason(code));
    // Refused: perhaps only the read-only attribute is in the way.
    UniqueFileHandle file(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return Status::failure(os_error_reason(code));
    if (!mark_for_deletion(file.get())) return last_error_status();
    return Status::success();
}

Status move_file(const std::wstring& from, const std::wstring& to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return Status::success();
    return last_error_status();
}

std::optional<std::wstring> full_path(const std::wstring& path) {
    return read_grown_text(
        [&path](wchar_t* buffer, DWORD capacity) { return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr); });
}

Result<std::vector<std::wstring>> list_folder(const std::wstring& path) {
    using Listing = Result<std::vector<std::wstring>>;
    if (path.empty()) return Listing::failure(os_error_reason(ERROR_PATH_NOT_FOUND));
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(
        FindFirstFileExW(join_path(path, L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (!find) return Listing::failure(last_os_error_reason());
    std::vector<std::wstring> names;
    do {
        const std::wstring_view name(entry.cFileName);
        if (name != L"." && name != L"..") names.emplace_back(name);
    } while (FindNextFileW(find.get(), &entry));
    return Listing::success(std::move(names));
}
