// Helpers for the Windows-side tests: the GoogleTest-free part (plain_support.h), and running
// programs with an environment of the test's choosing, whose failures are reported to GoogleTest.
#pragma once
#include <windows.h>

#include <map>
#include <optional>
#include <string>

#include "plain_support.h"

namespace testing_support {

// Environment changes for a child: a value sets the variable, nullopt removes it.
using EnvironmentChanges = std::map<std::wstring, std::optional<std::wstring>>;

struct Child {
    HANDLE process = nullptr;
    DWORD id = 0;
    HANDLE suspended_thread = nullptr;  // the main thread of a child started suspended, until resumed
};
// Starts `exe` with `arguments` in `directory` (empty: the test's own) and the changed environment;
// `suspended`: held before its first instruction until resume(), so that several start together.
Child start_process(const std::wstring& exe, const std::wstring& arguments, const EnvironmentChanges& changes,
                    const std::wstring& directory = L"", bool suspended = false);
// The same with another token of this user (a restricted or a linked one), not suspended.
Child start_process_as(HANDLE token, const std::wstring& exe, const std::wstring& arguments,
                       const EnvironmentChanges& changes);
void resume(Child& child);
// Waits up to `timeout_ms`; the exit code, or nullopt when it is still running (then it is killed).
std::optional<DWORD> wait_exit(Child& child, DWORD timeout_ms);
// Runs and waits: the exit code, or nullopt on a hang (killed after `timeout_ms`).
std::optional<DWORD> run_process(const std::wstring& exe, const std::wstring& arguments,
                                 const EnvironmentChanges& changes, DWORD timeout_ms = 60000,
                                 const std::wstring& directory = L"");

}  // namespace testing_support
