#include "account_refusal.h"

#include <windows.h>
#include <sddl.h>
#include <wtsapi32.h>

#include "system_library.h"
#include "text.h"
#include "win32_handles.h"

namespace {

constexpr std::wstring_view kServiceAccountSids[] = {
    L"S-1-5-7",   // ANONYMOUS LOGON
    L"S-1-5-17",  // IUSR
    L"S-1-5-18",  // LocalSystem
    L"S-1-5-19",  // LocalService
    L"S-1-5-20",  // NetworkService
};
// The virtual accounts: NT SERVICE\…, IIS APPPOOL\…, NT VIRTUAL MACHINE\…, user-mode drivers,
// NT TASK\…, Window Manager\DWM-n, Font Driver Host\UMFD-n.
constexpr std::wstring_view kServiceAccountPrefixes[] = {L"S-1-5-80-", L"S-1-5-82-", L"S-1-5-83-", L"S-1-5-84-",
                                                         L"S-1-5-87-", L"S-1-5-90-", L"S-1-5-96-"};

// "DOMAIN\name" compares as the system does, without case; where either side lacks its domain,
// the names alone.
bool same_account(std::wstring_view a, std::wstring_view b) {
    if (a.find(L'\\') == std::wstring_view::npos || b.find(L'\\') == std::wstring_view::npos) {
        a = a.substr(a.rfind(L'\\') + 1);
        b = b.substr(b.rfind(L'\\') + 1);
    }
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// The account as the reason names it: its name and SID, or whichever of them is known.
std::string account_text(const SetupAccount& account) {
    const std::string sid = utf16_to_utf8(account.user_sid.value_or(L""));
    if (account.user_name.empty()) return sid;
    const std::string name = utf16_to_utf8(account.user_name);
    return sid.empty() ? name : name + " (" + sid + ")";
}

std::wstring account_name(PSID sid) {
    wchar_t name[256], domain[256];
    DWORD name_size = 256, domain_size = 256;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) return {};
    return domain_size == 0 ? std::wstring(name) : std::wstring(domain) + L"\\" + name;
}

// WTSQuerySessionInformationW's text for this process's session; empty when there is none.
std::wstring session_text(WTS_INFO_CLASS which) {
    using QueryFn = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, wchar_t**, DWORD*);
    using FreeFn = void(WINAPI*)(void*);
    static const auto query = system_function<QueryFn>(L"wtsapi32.dll", "WTSQuerySessionInformationW");
    static const auto free_memory = system_function<FreeFn>(L"wtsapi32.dll", "WTSFreeMemory");
    wchar_t* text = nullptr;
    DWORD bytes = 0;
    if (!query || !free_memory || !query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, which, &text, &bytes) || !text)
        return {};
    std::wstring value(text);
    free_memory(text);
    return value;
}

std::optional<std::wstring> session_user() {
    const std::wstring user = session_text(WTSUserName);
    if (user.empty()) return std::nullopt;
    const std::wstring domain = session_text(WTSDomainName);
    return domain.empty() ? user : domain + L"\\" + user;
}

}  // namespace

bool is_service_account(std::wstring_view sid) {
    for (const std::wstring_view exact : kServiceAccountSids)
        if (sid == exact) return true;
    for (const std::wstring_view prefix : kServiceAccountPrefixes)
        if (sid.starts_with(prefix)) return true;
    return false;
}

std::optional<AccountRefusal> account_refusal(const SetupAccount& account, bool folder_chosen) {
    if (folder_chosen) return std::nullopt;
    if (account.user_sid && *account.user_sid == kLocalSystemSid)
        return AccountRefusal{RefusedAccount::Service, std::string(kSystemAccountRefusal)};
    if (account.user_sid && is_service_account(*account.user_sid))
        return AccountRefusal{RefusedAccount::Service, "el instalador se ejecuta con la cuenta de servicio " +
                                                           account_text(account) +
                                                           "; ej\u00E9cutelo en la sesi\u00F3n del usuario"};
    // Over the shoulder: the session's user elevated with an admin's name and password.
    if (account.session_user && !account.user_name.empty() && !same_account(account.user_name, *account.session_user))
        return AccountRefusal{RefusedAccount::OtherUser,
                              "el instalador se ejecuta con la cuenta " + account_text(account) +
                                  ", que no es la de esta sesi\u00F3n (" + utf16_to_utf8(*account.session_user) +
                                  "); ej\u00E9cutelo con su propia cuenta"};
    return std::nullopt;
}

std::optional<std::wstring> sid_text(void* sid) {
    UniqueLocalString text;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, text.put())) return std::nullopt;
    return std::wstring(text.get());
}

std::vector<unsigned char> process_token_user() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return {};
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
    return buffer;
}

std::optional<std::wstring> process_user_sid() {
    const std::vector<unsigned char> user = process_token_user();
    if (user.empty()) return std::nullopt;
    return sid_text(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
}

SetupAccount read_setup_account() {
    SetupAccount account;
    const std::vector<unsigned char> user = process_token_user();
    if (!user.empty()) {
        const PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
        account.user_sid = sid_text(sid);
        account.user_name = account_name(sid);
    }
    account.session_user = session_user();
    return account;
}
