#include "run_log.h"

#include <windows.h>

#include "file_ops.h"
#include "grown_buffer.h"
#include "paths.h"
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

// %TEMP%\setup.log as an admin writes it, whether or not a shell expanded it first. A name that is
// not set stays as written, as the system leaves it.
std::wstring with_variables_expanded(const std::wstring& path) {
    const std::optional<std::wstring> expanded = read_grown_text([&path](wchar_t* buffer, DWORD capacity) -> DWORD {
        // The count includes the terminator whether or not the text fitted.
        const DWORD needed = ExpandEnvironmentStringsW(path.c_str(), buffer, capacity);
        return needed != 0 && needed <= capacity ? needed - 1 : needed;
    });
    return expanded.value_or(path);
}

// A log the run may write as SYSTEM or elevated must not lead anywhere else: a link planted at its
// name, or a second name of someone else's file, could make the run append to a file its planter
// cannot write. The check is made on the opened file itself, so nothing can be swapped in between.
bool is_plain_file(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    return !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && info.nNumberOfLinks == 1;
}

UniqueFileHandle open_log_file(const std::wstring& value) {
    const std::wstring path = with_variables_expanded(value);
    // A relative path counts from the current folder; its missing folders are made.
    if (const std::optional<std::wstring> full = full_path(path)) {
        if (const std::optional<std::wstring> folder = parent_path(*full)) ignore_failure(create_folder(*folder));
    }
    // Append-only access: every write lands at the end, even with other setups writing to the
    // same file, and earlier lines cannot be touched. A link is opened as itself, never followed.
    UniqueFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file && !is_plain_file(file.get())) file.reset();
    return file;
}

}  // namespace

void open_run_log(const std::optional<std::wstring>& path) {
    if (!path) return;
    UniqueFileHandle file = open_log_file(*path);
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
