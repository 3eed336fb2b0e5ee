#include "run_log.h"

#include <windows.h>

#include "text.h"
#include "win32_handles.h"

namespace {

// The main thread and the host watch both log; one write at a time keeps lines whole.
SRWLOCK log_lock = SRWLOCK_INIT;
UniqueFileHandle log_file;

std::string zero_padded(unsigned value, size_t width = 2) {
    std::string digits = decimal(value);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return digits;
}

// ISO 8601 UTC time to the millisecond, a space, the text with any line break in it made a space
// (one event, one line), then CRLF.
std::string run_log_line(const SYSTEMTIME& utc, std::string_view text) {
    std::string line = zero_padded(utc.wYear, 4) + "-" + zero_padded(utc.wMonth) + "-" + zero_padded(utc.wDay) + "T" +
                       zero_padded(utc.wHour) + ":" + zero_padded(utc.wMinute) + ":" + zero_padded(utc.wSecond) + "." +
                       zero_padded(utc.wMilliseconds, 3) + "Z ";
    for (const char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
    line += "\r\n";
    return line;
}

}  // namespace

void open_run_log(const std::optional<std::wstring>& path) {
    if (!path) return;
    // Append-only access: every write lands at the end, even with other setups writing to the
    // same file, and earlier lines cannot be touched.
    UniqueFileHandle file(CreateFileW(path->c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ExclusiveLock guard(log_lock);
    log_file = std::move(file);
}

void log_event(std::string_view text) {
    ExclusiveLock guard(log_lock);
    if (!log_file) return;
    SYSTEMTIME now;
    GetSystemTime(&now);
    const std::string line = run_log_line(now, text);
    DWORD written = 0;
    // A log that cannot be written changes nothing for the run.
    WriteFile(log_file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void log_path_event(std::string_view what, std::wstring_view path) {
    log_event(std::string(what) + ": " + utf16_to_utf8(path));
}

void log_exit_code(unsigned code) { log_event("exit code " + decimal(code)); }

void log_settings_update(std::string_view what, const Result<SettingsOutcome>& outcome,
                         const std::wstring& settings_path) {
    if (!outcome.ok()) {
        log_event(std::string(what) + " failed: " + outcome.error());
        return;
    }
    const bool written = outcome.value() == SettingsOutcome::Written;
    log_path_event(std::string(what) + (written ? " written" : " already allow unknown plug-ins"), settings_path);
}
