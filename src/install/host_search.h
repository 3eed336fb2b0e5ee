// Which running processes are the host that the setup waits for: the setup's own user's, found
// by the host's executable name.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "process_list.h"

struct HostSearch {
    std::wstring host_name;                // the executable's name, compared without ASCII case
    std::optional<std::wstring> user_sid;  // the setup's user; absent when unreadable
    unsigned long session = 0;             // the setup's session
    ProcessId self = 0;                    // the setup itself, never a host
    ProcessLister list_processes;
};

// The search for `host_name` on behalf of this process's user, over the system's process list.
HostSearch this_users_host_search(std::wstring host_name);

// Whether `process` is a host that counts. Only the setup's user's hosts do, in any session: the
// same user's host in another session rewrites the same preferences when it quits, while another
// user's host may run for days and never touches them. A process whose user the system could not
// tell counts only in the setup's own session. The setup itself and a process without a name
// (one the system is still starting or already tearing down) never count, not even for an empty
// host name.
bool counts_as_host(const RunningProcess& process, const HostSearch& search);

// Ids of the running processes that count as the host, in the order the system listed them.
// A list that cannot be had gives none.
std::vector<ProcessId> find_host_processes(const HostSearch& search);

// The name to look for: ORVELLE_SETUP_APP when set to valid Unicode (even empty), else
// "Affinity.exe". `value` is the variable's value, absent when it is not set.
std::wstring host_executable_name(const std::optional<std::wstring>& value);

// Same length and the same UTF-16 units, except that ASCII letters match in either case; nothing else
// is folded, so "É" and "é" differ.
bool is_host_name(std::wstring_view exe_name, std::wstring_view host_name);
