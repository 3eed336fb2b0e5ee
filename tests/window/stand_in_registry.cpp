#include "stand_in_registry.h"

#include "test_support.h"

namespace ts = testing_support;

namespace stand_in {

namespace {

std::wstring client_state(const wchar_t* channel) {
    return std::wstring(L"Software\\Microsoft\\EdgeUpdate\\ClientState\\") + channel;
}

REGSAM view_of(HKEY root) { return root == HKEY_LOCAL_MACHINE ? KEY_WOW64_32KEY : 0; }

bool make_folders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3);; at = path.find(L'\\', at + 1)) {
        const std::wstring part = path.substr(0, at);
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
        if (at == std::wstring::npos) return true;
    }
}

}  // namespace

std::wstring built_dll() { return ts::test_binary(L"stand-in\\EmbeddedBrowserWebView.dll"); }

bool place(const std::wstring& version_folder, const wchar_t* arch) {
    const std::wstring folder = version_folder + L"\\EBWebView\\" + arch;
    return make_folders(folder) &&
           CopyFileW(built_dll().c_str(), (folder + L"\\EmbeddedBrowserWebView.dll").c_str(), FALSE);
}

bool register_empty_key(HKEY root, const wchar_t* channel) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, client_state(channel).c_str(), 0, nullptr, 0, KEY_SET_VALUE | view_of(root), nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool register_folder(HKEY root, const wchar_t* channel, const std::wstring& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, client_state(channel).c_str(), 0, nullptr, 0, KEY_SET_VALUE | view_of(root), nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LSTATUS status = RegSetValueExW(key, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void unregister_all() {
    for (const wchar_t* channel :
         {kStableChannel, kBetaChannel, kStableBrowser, L"{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}",
          L"{65C35B14-6C1D-4122-AC46-7148CC9D6497}"}) {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            RegDeleteKeyExW(root, client_state(channel).c_str(), view_of(root), 0);
        }
    }
}

}  // namespace stand_in
