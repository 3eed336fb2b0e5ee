// Making the host's plug-in preferences allow plug-ins it does not recognise.
#pragma once
#include <string>

enum class SettingsOutcome { Written, AlreadyAllowed, Failed };

struct SettingsUpdate {
    SettingsOutcome outcome;
    std::string error;  // the settings file's path, ": " and the reason, when Failed
};

SettingsUpdate update_host_settings(const std::wstring& settings_path);
