// How failures of system calls become the one text a failure carries.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

// "{message} (os error {code})", the message in the user's language with trailing white
// space removed; when the system has no usable message, one of the "OS Error …" fallbacks.
std::string os_error_reason(unsigned long code);
// The reason for the calling thread's last error (GetLastError).
std::string last_os_error_reason();
// The calling thread's last error as an HRESULT, for COM code; E_FAIL when there is none.
HRESULT last_error_as_hresult();
// "{path}: {reason}", the path shown as UTF-8 (an unpaired surrogate as U+FFFD).
std::string path_failure(std::wstring_view path, std::string_view reason);

// The reason a write gives when it stops making progress.
inline constexpr std::string_view kWriteStalled = "failed to write whole buffer";
