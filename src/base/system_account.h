// Setup installs for the user who runs it. Run as the SYSTEM account (a deployment tool's
// default), the profile would be the system's own, where no user ever sees the plug-in.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::wstring_view kLocalSystemSid = L"S-1-5-18";
inline constexpr std::string_view kSystemAccountRefusal =
    "el instalador se ejecuta con la cuenta del sistema; ej\u00E9cutelo en la sesi\u00F3n del usuario";

// The refusal when the run must not go on: the token's user is LocalSystem and no folder was
// chosen with ORVELLE_SETUP_DIR. `user_sid` is the user's SID as text, absent when unknown.
std::optional<std::string_view> system_account_refusal(const std::optional<std::wstring>& user_sid, bool folder_chosen);

// The SID of this process's token user as text ("S-1-5-21-…"); absent when it cannot be read.
std::optional<std::wstring> process_user_sid();

// The TOKEN_USER of this process's token, in a buffer of its own that the SID it holds points
// into; empty when the token cannot be read.
std::vector<unsigned char> process_token_user();
