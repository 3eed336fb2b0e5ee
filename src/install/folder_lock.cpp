#include "folder_lock.h"

#include <memory>

#include "file_ops.h"
#include "os_error.h"
#include "paths.h"
#include "account_refusal.h"
#include "text.h"
#include "time_limits.h"

namespace {

// Folder names compare without case, as the file system does; the invariant upper case
// stands in for that comparison.
std::wstring upper_case(const std::wstring& text) {
    if (text.empty()) return text;
    const int size = static_cast<int>(text.size());
    std::wstring upper(text.size(), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(), size, upper.data(), size, nullptr, nullptr,
                      0) != size)
        return text;
    return upper;
}

// 64-bit FNV-1a over the UTF-16 units, as sixteen hex digits: a mutex name cannot hold the
// path itself, whose backslashes would read as namespaces.
std::wstring hash_hex(const std::wstring& text) {
    unsigned long long hash = 0xCBF29CE484222325ull;
    for (const wchar_t unit : text) {
        hash ^= static_cast<unsigned short>(unit);
        hash *= 0x100000001B3ull;
    }
    std::wstring hex(16, L'0');
    for (int i = 15; i >= 0; --i, hash >>= 4) hex[i] = static_cast<wchar_t>(hex_digit(hash, HexLetters::Upper));
    return hex;
}

std::wstring bytes_hex(const unsigned char* bytes, size_t size) {
    std::wstring hex;
    for (size_t i = 0; i < size; ++i) {
        hex += static_cast<wchar_t>(hex_digit(bytes[i] >> 4, HexLetters::Upper));
        hex += static_cast<wchar_t>(hex_digit(bytes[i], HexLetters::Upper));
    }
    return hex;
}

// The volume serial number and file ID of the folder, as hex; empty when they cannot be read.
// The 128-bit ID where the system has it (ReFS needs it), else the classic 64-bit one.
std::wstring folder_identity(const std::wstring& folder) {
    UniqueFileHandle handle(CreateFileW(folder.empty() ? L"." : folder.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return {};
    FILE_ID_INFO id{};
    if (GetFileInformationByHandleEx(handle.get(), FileIdInfo, &id, sizeof id)) {
        return bytes_hex(reinterpret_cast<const unsigned char*>(&id.VolumeSerialNumber), sizeof id.VolumeSerialNumber) +
               L"-" + bytes_hex(id.FileId.Identifier, sizeof id.FileId.Identifier);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle.get(), &info)) return {};
    const unsigned long long index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    const DWORD serial = info.dwVolumeSerialNumber;
    return bytes_hex(reinterpret_cast<const unsigned char*>(&serial), sizeof serial) + L"-" +
           bytes_hex(reinterpret_cast<const unsigned char*>(&index), sizeof index);
}

// The full path without a "\\?\" prefix and without trailing separators, so that the prefixed
// and the plain spelling hash alike.
std::wstring normalised_path(const std::wstring& folder) {
    std::wstring full = full_path(folder.empty() ? L"." : folder).value_or(folder);
    if (full.starts_with(L"\\\\?\\UNC\\")) {
        full.erase(2, 6);
    } else if (full.starts_with(L"\\\\?\\")) {
        full.erase(0, 4);
    }
    return std::wstring(without_trailing_separators(full));
}

// The user's own SID, which the elevated and the unelevated token of one user share.
std::unique_ptr<unsigned char[]> user_sid() {
    const std::vector<unsigned char> user = process_token_user();
    if (user.empty()) return nullptr;
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    const DWORD length = GetLengthSid(sid);
    auto copy = std::make_unique<unsigned char[]>(length);
    if (!CopySid(length, copy.get(), sid)) return nullptr;
    return copy;
}

// A mutex made by an elevated setup would otherwise carry the elevated token's default access
// list (administrators and the system only), which the same user's unelevated setup cannot
// open. The user's SID is allowed to wait on it and let it go, whichever of the two made it, and
// so are the system and the administrators, whose runs with a chosen folder share it. In the
// global namespace every other user is kept out: another user's setup on a folder both use
// fails clearly instead of waiting.
class UserMutexSecurity {
public:
    UserMutexSecurity() {
        sid_ = user_sid();
        if (!sid_ || !well_known_sid(WinLocalSystemSid, system_) ||
            !well_known_sid(WinBuiltinAdministratorsSid, admins_))
            return;
        const PSID allowed[] = {sid_.get(), system_, admins_};
        DWORD acl_size = static_cast<DWORD>(sizeof(ACL));
        for (const PSID sid : allowed) acl_size += static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE)) + GetLengthSid(sid);
        acl_ = std::make_unique<unsigned char[]>(acl_size);
        auto* acl = reinterpret_cast<ACL*>(acl_.get());
        if (!InitializeAcl(acl, acl_size, ACL_REVISION)) return;
        for (const PSID sid : allowed)
            if (!AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, sid)) return;
        if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
            return;
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
        ready_ = true;
    }
    // Null (the default security) when the descriptor could not be built.
    SECURITY_ATTRIBUTES* get() { return ready_ ? &attributes_ : nullptr; }

private:
    static bool well_known_sid(WELL_KNOWN_SID_TYPE type, unsigned char (&sid)[SECURITY_MAX_SID_SIZE]) {
        DWORD size = sizeof sid;
        return CreateWellKnownSid(type, nullptr, sid, &size) != FALSE;
    }

    std::unique_ptr<unsigned char[]> sid_, acl_;
    unsigned char system_[SECURITY_MAX_SID_SIZE]{};
    unsigned char admins_[SECURITY_MAX_SID_SIZE]{};
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

}  // namespace

std::wstring folder_lock_name(const std::wstring& folder) {
    const std::wstring identity = folder_identity(folder);
    if (!identity.empty()) return L"Global\\Lumivane-Setup-" + identity;
    return L"Global\\Lumivane-Setup-path-" + hash_hex(upper_case(normalised_path(folder)));
}

Result<FolderLock> lock_folder(const std::wstring& folder) {
    using Locked = Result<FolderLock>;
    UserMutexSecurity security;
    // Only the rights to wait and to let go are asked for, so that opening a mutex that
    // another setup made needs no more than its access list grants.
    UniqueHandle mutex(
        CreateMutexExW(security.get(), folder_lock_name(folder).c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
    if (!mutex) return Locked::failure(std::string(kFolderLockRefusedReason) + ": " + last_os_error_reason());
    const DWORD waited = WaitForSingleObject(mutex.get(), time_limits().folder_lock_ms);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return Locked::success(FolderLock(std::move(mutex)));
    if (waited == WAIT_TIMEOUT) return Locked::failure(std::string(kFolderBusyReason));
    return Locked::failure(std::string(kFolderLockRefusedReason) + ": " + last_os_error_reason());
}
