#include "host_search.h"

#include <windows.h>

#include "account_refusal.h"
#include "text.h"

HostSearch this_users_host_search(std::wstring host_name) {
    const ProcessId self = GetCurrentProcessId();
    DWORD session = 0;
    // Unknown, the session cannot match another process's: then only the user decides.
    if (!ProcessIdToSessionId(self, &session)) session = 0xFFFFFFFFu;
    return HostSearch{std::move(host_name), process_user_sid(), session, self, list_running_processes};
}

bool counts_as_host(const RunningProcess& process, const HostSearch& search) {
    // The setup itself may carry the host's name (saved as it, or named in ORVELLE_SETUP_APP):
    // waiting for its own end would never end.
    if (process.exe_name.empty() || process.id == search.self) return false;
    if (!is_host_name(process.exe_name, search.host_name)) return false;
    if (process.user_sid && search.user_sid) return *process.user_sid == *search.user_sid;
    return process.session == search.session;
}

std::vector<ProcessId> find_host_processes(const HostSearch& search) {
    std::vector<ProcessId> found;
    if (!search.list_processes) return found;
    for (const RunningProcess& process : search.list_processes())
        if (counts_as_host(process, search)) found.push_back(process.id);
    return found;
}

std::wstring host_executable_name(const std::optional<std::wstring>& value) {
    if (value && is_valid_utf16(*value)) return *value;
    return L"Affinity.exe";
}

bool is_host_name(std::wstring_view exe_name, std::wstring_view host_name) {
    return equals_ignoring_ascii_case(exe_name, host_name);
}
