#include "folder_lock.h"

#include "file_ops.h"
#include "paths.h"
#include "text.h"

namespace {

// Folder names compare without case, as the file system does; the invariant upper case
// stands in for that comparison.
std::wstring upper_case(const std::wstring& text) {
    if (text.empty()) return text;
    const int size = static_cast<int>(text.size());
    std::wstring upper(text.size(), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(), size, upper.data(), size, nullptr,
                      nullptr, 0) != size)
        return text;
    return upper;
}

// 64-bit FNV-1a over the UTF-16 units, as sixteen hex digits: a mutex name cannot hold the
// path itself, whose backslashes would read as namespaces.
std::wstring hash_hex(const std::wstring& text) {
    unsigned long long hash = 0xCBF29CE484222325ull;
    for (const wchar_t unit : text) {
        hash ^= static_cast<unsigned short>(unit);
        hash *= 0x100000001B3ull;
    }
    std::wstring hex(16, L'0');
    for (int i = 15; i >= 0; --i, hash >>= 4) hex[i] = static_cast<wchar_t>(hex_digit(hash, HexLetters::Upper));
    return hex;
}

}  // namespace

std::wstring folder_lock_name(const std::wstring& path) {
    // The empty path is the current folder.
    const std::wstring full = full_path(path.empty() ? L"." : path).value_or(path);
    return L"Local\\Lumivane-Setup-" + hash_hex(upper_case(std::wstring(without_trailing_separators(full))));
}

UniqueHandle folder_mutex(const std::wstring& path) {
    return UniqueHandle(CreateMutexW(nullptr, FALSE, folder_lock_name(path).c_str()));
}
