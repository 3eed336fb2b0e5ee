// System DLLs found at run time: every one comes from the system folder by its full path, never
// through the search order (which would include the folder the setup was started from).
#pragma once
#include <windows.h>

// The DLL of that name in the system folder, loaded once and kept for the process; null when
// it cannot be loaded.
HMODULE system_library(const wchar_t* file_name);

// Looks a function of a system DLL up by name and casts it to its declared type; null when the
// DLL or the function is missing.
template <class Function>
Function system_function(const wchar_t* library, const char* name) {
    const HMODULE module = system_library(library);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
