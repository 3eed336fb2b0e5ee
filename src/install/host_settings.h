// Making the host's plug-in preferences allow plug-ins it does not recognise.
#pragma once
#include <string>

#include "result.h"

enum class SettingsOutcome { Written, AlreadyAllowed };

// A failure's text is the settings file's path, ": " and the reason.
Result<SettingsOutcome> update_host_settings(const std::wstring& settings_path);
