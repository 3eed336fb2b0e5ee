// The run log an admin may ask for with ORVELLE_SETUP_LOG: one line per event, appended, so that
// a failed unattended run leaves its reason behind. It holds paths and failure texts only.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "host_settings.h"
#include "result.h"

// Opens the file named by the variable's value for appending, with %VARIABLE% references
// expanded and missing folders made. No value, a file that cannot be opened (a folder, read-only,
// a missing drive), or a name that is a link or one of several names of a file: nothing is
// logged and the run goes on as ever.
void open_run_log(const std::optional<std::wstring>& path);

// Appends "<UTC time> <text>" and CRLF in one write. Without an open log, or when the write
// fails, nothing happens.
void log_event(std::string_view text);
// "<what>: <path>", the path as UTF-8.
void log_path_event(std::string_view what, std::wstring_view path);
// The last line of every run.
void log_exit_code(unsigned code);
// What became of a preferences edit, its failure text unchanged.
void log_settings_update(std::string_view what, const Result<SettingsOutcome>& outcome,
                         const std::wstring& settings_path);
