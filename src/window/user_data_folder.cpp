#include "user_data_folder.h"

#include "paths.h"
#include "system_functions.h"

std::wstring user_data_folder_for(const std::optional<std::wstring>& local_app_data,
                                  const std::wstring& temporary_folder) {
    const std::wstring& base = local_app_data ? *local_app_data : temporary_folder;
    return join_path(join_path(join_path(base, L"Orvelle"), L"Filters"), L"WebView2-Setup");
}

std::wstring user_data_folder(const std::optional<std::wstring>& local_app_data) {
    // The temporary folder is only asked for when it is needed.
    return user_data_folder_for(local_app_data, local_app_data ? std::wstring() : temporary_folder());
}
