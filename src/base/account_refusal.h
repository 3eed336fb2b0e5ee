// Setup installs for the user who runs it, into that user's profile. Some accounts have a profile
// that no one will ever open: the system's and the services' own accounts, and an admin's whose
// name and password a user typed in to elevate ("over the shoulder"). Unless a folder is chosen
// with ORVELLE_SETUP_DIR, the setup refuses to install or remove for them.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::wstring_view kLocalSystemSid = L"S-1-5-18";
inline constexpr std::string_view kSystemAccountRefusal =
    "el instalador se ejecuta con la cuenta del sistema; ej\u00E9cutelo en la sesi\u00F3n del usuario";

// Who the setup runs as, and who sits at its session: read from the system by
// read_setup_account, or handed in by a test.
struct SetupAccount {
    std::optional<std::wstring> user_sid;      // the token's user as text ("S-1-5-…"); absent when unreadable
    std::wstring user_name;                    // that user as "DOMAIN\name"; empty when it cannot be looked up
    std::optional<std::wstring> session_user;  // "DOMAIN\name" logged on to the setup's session; absent when
                                               // no one is (a scheduled task, a service's session)
};

enum class RefusedAccount {
    Service,    // an account no one logs on with: no one sits at that desktop
    OtherUser,  // someone sits at the desktop, but the setup runs with another account's credentials
};

struct AccountRefusal {
    RefusedAccount kind;
    std::string reason;  // Spanish, as every installer error, naming the account found
};

// True for the well-known accounts that have a profile but no interactive user: LocalSystem,
// LocalService, NetworkService, anonymous and IIS's, and the virtual accounts of services,
// application pools, virtual machines, drivers, tasks and the window and font managers.
bool is_service_account(std::wstring_view sid);

// Why the run must not go on, or nothing. A chosen folder says where the plug-in goes, whoever
// runs the setup. A name that cannot be read is never a reason to refuse.
std::optional<AccountRefusal> account_refusal(const SetupAccount& account, bool folder_chosen);

// This process's user and its session's user.
SetupAccount read_setup_account();

// A SID (a PSID) as text ("S-1-5-…"); absent for none or one that cannot be converted.
std::optional<std::wstring> sid_text(void* sid);

// The SID of this process's token user as text ("S-1-5-…"); absent when it cannot be read.
std::optional<std::wstring> process_user_sid();

// The TOKEN_USER of this process's token, in a buffer of its own that the SID it holds points
// into; empty when the token cannot be read.
std::vector<unsigned char> process_token_user();
