// Finding the host's plug-in folder and placing the module in it.
#pragma once
#include <string>
#include <string_view>

#include "result.h"

inline constexpr std::wstring_view kModuleName = L"Lumivane.8bf";
inline constexpr std::wstring_view kTemporaryName = L"Lumivane.8bf.new";
inline constexpr std::wstring_view kSetAsideName = L"Lumivane.8bf.old";

// The host keeps a loaded module from being replaced or deleted, and a read-only file cannot be
// replaced either, but both can be renamed: moves `installed` aside in `folder` under the first
// set-aside name (kSetAsideName, then with 1 to 99 after it) that is free or can be freed.
// Gives the copy's path.
Result<std::wstring> set_module_aside(const std::wstring& folder, const std::wstring& installed);

// ORVELLE_SETUP_DIR unchanged when it exists, else %USERPROFILE%\.affinity\Affinity\3.0\Plugins.
Result<std::wstring> resolve_plugin_folder();
// Writes the module into `folder` through a temporary file and one move, then brings the host's
// settings into line. Success carries the installed file's path.
Result<std::wstring> install_plugin(const std::wstring& folder);
