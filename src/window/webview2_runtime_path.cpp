#include "webview2_runtime_path.h"

namespace {

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool is_ascii_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "C:\..." or "\\server\share\..."; a relative or drive-relative value would be resolved
// against whatever the current folder happens to be.
bool is_absolute_path(std::wstring_view path) {
    if (path.size() >= 3 && is_ascii_letter(path[0]) && path[1] == L':' && is_separator(path[2])) {
        return true;
    }
    return path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) &&
         !is_separator(path[2]);
}

std::optional<unsigned long> parse_number(std::wstring_view digits) {
    // Ten digits could overflow 32 bits; no real version part comes near that.
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    unsigned long value = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - L'0');
    }
    return value;
}

}  // namespace

std::optional<RuntimeVersion> parse_runtime_version(std::wstring_view text) {
    RuntimeVersion version{};
    for (std::size_t part = 0; part < version.size(); ++part) {
        const std::size_t dot = text.find(L'.');
        const bool last = part + 1 == version.size();
        if (last != (dot == std::wstring_view::npos)) return std::nullopt;
        const auto number = parse_number(text.substr(0, dot));
        if (!number) return std::nullopt;
        version[part] = *number;
        text = last ? std::wstring_view{} : text.substr(dot + 1);
    }
    return version;
}

bool runtime_version_at_least(const RuntimeVersion& version, const RuntimeVersion& floor) {
    for (std::size_t part = 0; part < version.size(); ++part) {
        if (version[part] != floor[part]) return version[part] > floor[part];
    }
    return true;
}

std::optional<std::wstring> runtime_dll_path(std::wstring_view registry_value) {
    std::wstring_view folder = registry_value;
    while (!folder.empty() && is_separator(folder.back())) folder.remove_suffix(1);
    if (!is_absolute_path(folder)) return std::nullopt;

    const std::size_t last_separator = folder.find_last_of(L"\\/");
    const auto version = parse_runtime_version(folder.substr(last_separator + 1));
    if (!version || !runtime_version_at_least(*version, kOldestUsableRuntime)) return std::nullopt;

    std::wstring path(folder);
    path += L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";
    return path;
}
