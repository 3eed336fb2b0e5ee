// One setup at a time on a folder that setups share, across processes and sessions: a named mutex
// in the global namespace, so that one user's setups in two sessions (a terminal server logs a
// user on twice) and an elevated and an unelevated run meet; named after the folder itself rather
// than after how it was spelled.
#pragma once
#include <string>
#include <string_view>

#include "result.h"
#include "win32_handles.h"

// The reason of a lock that another setup held for longer than the limit.
inline constexpr std::string_view kFolderBusyReason = "otra instalaci\u00F3n est\u00E1 en curso en esta carpeta";
// The reason of a lock that cannot be had at all, followed by the system's reason.
inline constexpr std::string_view kFolderLockRefusedReason =
    "no se pudo reservar la carpeta para esta instalaci\u00F3n";

// "Global\Lumivane-Setup-" and the folder's identity: its volume's serial number and its file ID,
// read through a handle to the folder, so that every spelling of it ("\\?\" prefix, short name,
// another case, a subst drive or a link to it) gives one name. A folder whose identity cannot be
// read (it does not exist, say) is named after a hash of its normalised full path in upper case.
std::wstring folder_lock_name(const std::wstring& folder);

// Owns the folder's mutex until it goes out of scope. A mutex whose owner ended without letting
// it go (a setup that was killed) is taken over.
class FolderLock {
public:
    explicit FolderLock(UniqueHandle mutex) : mutex_(std::move(mutex)) {}
    FolderLock(FolderLock&&) noexcept = default;
    FolderLock& operator=(FolderLock&&) = delete;
    ~FolderLock() {
        if (mutex_) ReleaseMutex(mutex_.get());
    }

private:
    UniqueHandle mutex_;
};

// Takes the folder's lock, waiting at most time_limits().folder_lock_ms for another setup to let
// it go. Fails with kFolderBusyReason when the wait runs out, or with kFolderLockRefusedReason,
// ": " and the system's reason when the lock cannot be opened (the name is taken by another kind
// of object, or by another user's setup whose lock lets no one else in): the work is never done unguarded. Callers put the path in front. The folder
// should exist, so that its identity names the lock.
Result<FolderLock> lock_folder(const std::wstring& folder);
