// Watching a running host so its preferences can be edited again once it has quit.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The system's 32-bit process identifier (a DWORD).
using ProcessId = unsigned long;

// What the background task owns: whom to wait for and which file to edit afterwards.
struct HostWatch {
    std::wstring host_name;
    std::vector<ProcessId> process_ids;  // in the order the snapshot listed them; never empty
    std::wstring settings_path;          // edited again once the host has quit; empty: no edit
    std::wstring plugin_folder;          // its set-aside copies deleted once the host has quit; empty: none
};

// Looks for running host processes and, when there are any, starts the one background task
// and hands its thread to BackgroundTaskSlot. Returns without waiting; never fails.
void start_host_watch(const std::wstring& settings_path);
// The same for a removal: the task deletes the set-aside copies in `plugin_folder` instead.
void start_removal_watch(const std::wstring& plugin_folder);

// Ids of the running processes whose executable name is `host_name`, in snapshot order, this
// process left out.
// A snapshot that cannot be taken gives none.
std::vector<ProcessId> find_host_processes(std::wstring_view host_name);

// Waits for every listed process to end, then edits the preferences once more or deletes the
// set-aside copies.
void host_watch_task(HostWatch watch);

// The name to look for: ORVELLE_SETUP_APP when set to valid Unicode (even empty), else
// "Affinity.exe". `value` is the variable's value, absent when it is not set.
std::wstring host_executable_name(const std::optional<std::wstring>& value);

// Same length and the same UTF-16 units, except that ASCII letters match in either case; nothing else
// is folded, so "É" and "é" differ.
bool is_host_name(std::wstring_view exe_name, std::wstring_view host_name);
