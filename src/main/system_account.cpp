#include "system_account.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

#include "text.h"
#include "win32_handles.h"

std::optional<std::string_view> system_account_refusal(const std::optional<std::string>& user_sid,
                                                       bool folder_chosen) {
    // A chosen folder says where the plug-in goes, whoever runs the setup.
    if (folder_chosen || !user_sid || *user_sid != kLocalSystemSid) return std::nullopt;
    return kSystemAccountRefusal;
}

std::optional<std::string> process_user_sid() {
    HANDLE taken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &taken)) return std::nullopt;
    const UniqueHandle token(taken);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return std::nullopt;
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return std::nullopt;
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(user->User.Sid, &text)) return std::nullopt;
    std::string sid = utf16_to_utf8(text);
    LocalFree(text);
    return sid;
}
