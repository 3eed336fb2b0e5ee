#include "system_library.h"

#include <string>

#include "paths.h"

namespace {

std::wstring system_folder() {
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(buffer, length);
}

}  // namespace

HMODULE system_library(const wchar_t* file_name) {
    // Modules are never freed, so repeated lookups just return the loaded module again.
    const std::wstring folder = system_folder();
    if (folder.empty()) return nullptr;
    const std::wstring path = join_path(folder, file_name);
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}
