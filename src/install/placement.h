// Finding the host's plug-in folder and placing the module in it.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "host_search.h"
#include "result.h"

inline constexpr std::wstring_view kModuleName = L"Lumivane.8bf";
inline constexpr std::wstring_view kTemporaryName = L"Lumivane.8bf.new";
inline constexpr std::wstring_view kSetAsideName = L"Lumivane.8bf.old";

// The host keeps a loaded module from being replaced or deleted, and a read-only file cannot be
// replaced either, but both can be renamed: moves `installed` aside in `folder` under the first
// set-aside name (kSetAsideName, then with 1 to 99 after it) that is free or can be freed.
// Gives the copy's path.
Result<std::wstring> set_module_aside(const std::wstring& folder, const std::wstring& installed);

// The variables the plug-in folder comes from, as the driver read them: absent when not set.
struct FolderVariables {
    std::optional<std::wstring> chosen_folder;  // ORVELLE_SETUP_DIR
    std::optional<std::wstring> user_profile;   // USERPROFILE
};

// The chosen folder unchanged when it is set (even empty), else
// <profile>\.affinity\Affinity\3.0\Plugins.
Result<std::wstring> resolve_plugin_folder(const FolderVariables& variables);
// Writes the module into `folder` through a temporary file and one move, then brings the host's
// settings into line, edited again once the hosts that `host` finds have quit. Success carries
// the installed file's path.
Result<std::wstring> install_plugin(const std::wstring& folder, const HostSearch& host);
