// Where the WebView2 runtime keeps this program's browser profile:
// %LOCALAPPDATA%\Orvelle\Filters\WebView2-Setup.
#pragma once
#include <optional>
#include <string>

// The folder below `local_app_data` when that variable is set (its empty value included, which
// makes the folder relative to the current one), else below `temporary_folder`.
std::wstring user_data_folder_for(const std::optional<std::wstring>& local_app_data,
                                  const std::wstring& temporary_folder);

// The folder for this process: below LOCALAPPDATA as handed in, else the system's temporary folder.
std::wstring user_data_folder(const std::optional<std::wstring>& local_app_data);
