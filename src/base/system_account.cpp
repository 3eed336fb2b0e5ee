#include "system_account.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

#include "win32_handles.h"

std::optional<std::string_view> system_account_refusal(const std::optional<std::wstring>& user_sid,
                                                       bool folder_chosen) {
    // A chosen folder says where the plug-in goes, whoever runs the setup.
    if (folder_chosen || !user_sid || *user_sid != kLocalSystemSid) return std::nullopt;
    return kSystemAccountRefusal;
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
    UniqueLocalString text;
    if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, text.put()))
        return std::nullopt;
    return std::wstring(text.get());
}
