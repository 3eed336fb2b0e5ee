#include "paths.h"

bool is_path_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool has_drive_prefix(std::wstring_view p) {
    return p.size() >= 2 && p[1] == L':' && ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z'));
}

bool is_absolute_path(std::wstring_view path) {
    if (path.size() >= 3 && has_drive_prefix(path) && is_path_separator(path[2])) return true;
    return path.size() >= 3 && is_path_separator(path[0]) && is_path_separator(path[1]) && !is_path_separator(path[2]);
}

std::wstring_view without_trailing_separators(std::wstring_view path) {
    while (!path.empty() && is_path_separator(path.back())) path.remove_suffix(1);
    return path;
}

std::wstring_view last_component(std::wstring_view path) {
    return path.substr(path.find_last_of(L"\\/") + 1);  // npos + 1 is 0
}

namespace {

// End of the "server\share" that starts at `i`.
size_t share_end(std::wstring_view p, size_t i) {
    int parts = 0;
    while (i < p.size() && parts < 2) {
        while (i < p.size() && !is_path_separator(p[i])) ++i;
        ++parts;
        if (parts < 2 && i < p.size()) ++i;
    }
    return i;
}

bool is_unc_word(std::wstring_view p) {
    return p.size() >= 4 && (p[0] == L'U' || p[0] == L'u') && (p[1] == L'N' || p[1] == L'n') &&
           (p[2] == L'C' || p[2] == L'c') && is_path_separator(p[3]);
}

// Length of the part that no parent can take away: a drive ("C:"), a UNC share
// ("\\server\share"), a device/verbatim prefix with a drive or share ("\\?\C:",
// "\\?\UNC\server\share") or with a device name ("\\.\pipe"), then one root separator if present.
size_t root_length(std::wstring_view p) {
    size_t n = 0;
    if (p.size() >= 2 && is_path_separator(p[0]) && is_path_separator(p[1])) {
        size_t i = 2;
        if (p.size() >= 4 && (p[2] == L'?' || p[2] == L'.') && is_path_separator(p[3])) {
            i = 4;
            if (has_drive_prefix(p.substr(i))) {
                n = i + 2;
            } else if (is_unc_word(p.substr(i))) {
                n = share_end(p, i + 4);
            } else {
                while (i < p.size() && !is_path_separator(p[i])) ++i;
                n = i;
            }
        } else {
            n = share_end(p, i);
        }
    } else if (has_drive_prefix(p)) {
        n = 2;
    }
    if (n < p.size() && is_path_separator(p[n])) ++n;
    return n;
}

}  // namespace

std::wstring join_path(std::wstring_view base, std::wstring_view component) {
    std::wstring out(base);
    const bool bare_drive = base.size() == 2 && has_drive_prefix(base);
    if (!base.empty() && !is_path_separator(base.back()) && !bare_drive) out += L'\\';
    out += component;
    return out;
}

std::optional<std::wstring> parent_path(std::wstring_view path) {
    const size_t root = root_length(path);
    size_t end = path.size();
    while (end > root && is_path_separator(path[end - 1])) --end;
    if (end <= root) return std::nullopt;
    size_t cut = end;
    while (cut > root && !is_path_separator(path[cut - 1])) --cut;
    // Drop the separators between the parent and the last component, but keep the root's own.
    while (cut > root && is_path_separator(path[cut - 1])) --cut;
    return std::wstring(path.substr(0, cut));
}
