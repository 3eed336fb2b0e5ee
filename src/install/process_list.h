// The running processes as the system lists them, with whose and which session's each one is.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The system's 32-bit process identifier (a DWORD).
using ProcessId = unsigned long;

struct RunningProcess {
    ProcessId id = 0;
    unsigned long session = 0;
    std::optional<std::wstring> user_sid;  // "S-1-5-…"; absent when the system could not tell
    std::wstring exe_name;                 // the executable's file name; empty for one still starting
};

// Gives the running processes in the system's order; a test hands in its own.
using ProcessLister = std::function<std::vector<RunningProcess>()>;

// Every process of the machine with its session and user, in the system's order. The system
// hands each one's user without any rights over other users' processes being needed. Where that
// list cannot be had, a process snapshot gives each one's session but no user; where neither can
// be had, none.
std::vector<RunningProcess> list_running_processes();
// The snapshot alone: sessions, no users.
std::vector<RunningProcess> snapshot_running_processes();
