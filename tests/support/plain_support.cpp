#include "plain_support.h"

#include "embedded.h"
#include "text.h"

namespace testing_support {

namespace {

std::wstring from_environment(const wchar_t* name) {
    std::wstring value = environment_variable(name).value_or(L"");
    for (wchar_t& c : value)
        if (c == L'/') c = L'\\';
    return value;
}

}  // namespace

std::optional<std::wstring> environment_variable(const wchar_t* name) {
    // An empty value also gives 0; only the last error tells it from an unset variable.
    SetLastError(ERROR_SUCCESS);
    DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return GetLastError() == ERROR_SUCCESS ? std::optional<std::wstring>(L"") : std::nullopt;
    std::wstring value(needed, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), needed));
    return value;
}

ScopedEnvironment::~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
        SetEnvironmentVariableW(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
}

void ScopedEnvironment::set(const wchar_t* name, const std::optional<std::wstring>& value) {
    saved_.emplace_back(name, environment_variable(name));
    SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
}

std::wstring setup_exe() { return from_environment(L"LUMIVANE_SETUP_EXE"); }
std::wstring short_limits_setup_exe() { return from_environment(L"LUMIVANE_SHORT_LIMITS_SETUP_EXE"); }
std::wstring test_binary(const std::wstring& name) { return from_environment(L"LUMIVANE_TEST_BIN") + L"\\" + name; }

ScratchFolder::ScratchFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    for (;;) {
        path_ = std::wstring(temp) + L"lumivane-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
    }
}

ScratchFolder::~ScratchFolder() { remove_tree(path_); }

void remove_tree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

std::optional<std::string> read_bytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

bool write_bytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> folder_names(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

// Built here from FormatMessageW, apart from the setup's own code, so the two check each other.
std::string os_reason(DWORD code) {
    wchar_t buffer[2048];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer, 2048,
                             nullptr);
    while (n > 0 && (buffer[n - 1] == L'\r' || buffer[n - 1] == L'\n' || buffer[n - 1] == L' ')) --n;
    char utf8_text[8192];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), utf8_text, sizeof utf8_text, nullptr,
                                          nullptr);
    return std::string(utf8_text, bytes > 0 ? bytes : 0) + " (os error " + std::to_string(code) + ")";
}
std::string utf8(const std::wstring& text) { return utf16_to_utf8(text); }

std::string module_bytes() {
    const EmbeddedBytes module = plugin_module();
    return std::string(reinterpret_cast<const char*>(module.data), module.size);
}

}  // namespace testing_support
