#include "process_list.h"

#include <windows.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

#include <cwchar>

#include "account_refusal.h"
#include "system_library.h"
#include "win32_handles.h"

namespace {

using EnumerateProcessesFn = BOOL(WINAPI*)(HANDLE, DWORD, DWORD, WTS_PROCESS_INFOW**, DWORD*);
using FreeMemoryFn = void(WINAPI*)(void*);

// WTSEnumerateProcessesW: each process's session and user SID, filled in by the system.
std::optional<std::vector<RunningProcess>> enumerated_processes() {
    static const auto enumerate = system_function<EnumerateProcessesFn>(L"wtsapi32.dll", "WTSEnumerateProcessesW");
    static const auto free_memory = system_function<FreeMemoryFn>(L"wtsapi32.dll", "WTSFreeMemory");
    WTS_PROCESS_INFOW* info = nullptr;
    DWORD count = 0;
    if (!enumerate || !free_memory || !enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &info, &count)) return std::nullopt;
    std::vector<RunningProcess> processes;
    processes.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        const WTS_PROCESS_INFOW& entry = info[i];
        processes.push_back({entry.ProcessId, entry.SessionId, sid_text(entry.pUserSid),
                             entry.pProcessName ? std::wstring(entry.pProcessName) : std::wstring()});
    }
    free_memory(info);
    return processes;
}

}  // namespace

std::vector<RunningProcess> snapshot_running_processes() {
    std::vector<RunningProcess> processes;
    const UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    // The walk ends at the first entry that cannot be fetched, whatever the reason. A process
    // whose session cannot be read (already gone) is left out.
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        DWORD session = 0;
        if (!ProcessIdToSessionId(entry.th32ProcessID, &session)) continue;
        processes.push_back({entry.th32ProcessID, session, std::nullopt,
                             std::wstring(entry.szExeFile, wcsnlen(entry.szExeFile, MAX_PATH))});
    }
    return processes;
}

std::vector<RunningProcess> list_running_processes() {
    if (std::optional<std::vector<RunningProcess>> enumerated = enumerated_processes()) return std::move(*enumerated);
    return snapshot_running_processes();
}
