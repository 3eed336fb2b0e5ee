// Finding the running host and waiting, on a thread of its own, until it has quit.
#include "host_watch.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>
#include <memory>

#include "background_task.h"
#include "environment.h"
#include "host_settings.h"
#include "removal.h"
#include "run_log.h"
#include "text.h"
#include "win32_handles.h"

namespace {

constexpr DWORD kPollIntervalMs = 250;

bool is_listed(const std::vector<ProcessId>& ids, ProcessId id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// A process that could not be opened (already gone, or access refused) is watched through the
// process list instead, for as long as its id is listed under the host's name.
void wait_until_unlisted(std::wstring_view host_name, ProcessId id) {
    while (is_listed(find_host_processes(host_name), id)) Sleep(kPollIntervalMs);
}

void wait_for_process(std::wstring_view host_name, ProcessId id) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process) {
        wait_until_unlisted(host_name, id);
        return;
    }
    WaitForSingleObject(process.get(), INFINITE);
}

DWORD WINAPI run_host_watch(void* parameter) {
    std::unique_ptr<HostWatch> watch(static_cast<HostWatch*>(parameter));
    // Nothing may leave a thread's entry function; the task's outcome is never looked at anyway.
    try {
        host_watch_task(std::move(*watch));
    } catch (...) {}
    return 0;
}

}  // namespace

std::wstring host_executable_name(const std::optional<std::wstring>& value) {
    if (value && is_valid_utf16(*value)) return *value;
    return L"Affinity.exe";
}

bool is_host_name(std::wstring_view exe_name, std::wstring_view host_name) {
    return equals_ignoring_ascii_case(exe_name, host_name);
}

std::vector<ProcessId> find_host_processes(std::wstring_view host_name) {
    std::vector<ProcessId> found;
    const UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return found;

    // The setup itself may carry the host's name (saved as it, or named in ORVELLE_SETUP_APP):
    // waiting for its own end would never end.
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    // The walk ends at the first entry that cannot be fetched, whatever the reason. An entry
    // without a name (a process the system is still starting or already tearing down) is no
    // host, even for an empty host name.
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        const std::wstring_view exe(entry.szExeFile, wcsnlen(entry.szExeFile, MAX_PATH));
        if (exe.empty() || entry.th32ProcessID == self) continue;
        if (is_host_name(exe, host_name)) found.push_back(entry.th32ProcessID);
    }
    return found;
}

void host_watch_task(HostWatch watch) {
    for (const ProcessId id : watch.process_ids) wait_for_process(watch.host_name, id);
    log_event("the host has quit");
    // Nobody but the log is left to tell of a failure: the installation has long been reported.
    if (!watch.settings_path.empty())
        log_settings_update("host settings after the host quit", update_host_settings(watch.settings_path),
                            watch.settings_path);
    // Copies a later host run still holds go with the next install or removal.
    if (!watch.plugin_folder.empty()) remove_set_aside_copies(watch.plugin_folder);
}

namespace {

void start_watch(const std::wstring& settings_path, const std::wstring& plugin_folder) {
    std::wstring name = host_executable_name(environment_value(L"ORVELLE_SETUP_APP"));
    std::vector<ProcessId> ids = find_host_processes(name);
    if (ids.empty()) return;

    auto watch = std::make_unique<HostWatch>(HostWatch{std::move(name), std::move(ids), settings_path, plugin_folder});
    UniqueHandle thread(CreateThread(nullptr, 0, run_host_watch, watch.get(), 0, nullptr));
    // Without a thread the installation still stands; the preferences stay as just written.
    if (!thread) return;
    watch.release();  // the thread owns it now
    log_event("waiting for the host to quit");
    BackgroundTaskSlot::put(std::move(thread));
}

}  // namespace

void start_host_watch(const std::wstring& settings_path) { start_watch(settings_path, L""); }
void start_removal_watch(const std::wstring& plugin_folder) { start_watch(L"", plugin_folder); }
