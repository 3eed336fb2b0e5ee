#include "test_support.h"

#include <gtest/gtest.h>

namespace testing_support {

namespace {

// The child's environment block: ours, with the changes applied (names compare without case).
std::wstring environment_block(const EnvironmentChanges& changes) {
    std::map<std::wstring, std::wstring, bool (*)(const std::wstring&, const std::wstring&)> vars(
        [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
        std::wstring entry(p);
        const size_t eq = entry.find(L'=', 1);
        if (eq == std::wstring::npos) continue;
        vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : changes) {
        if (value)
            vars[name] = *value;
        else
            vars.erase(name);
    }
    std::wstring out;
    for (const auto& [name, value] : vars) out += name + L"=" + value + L'\0';
    out += L'\0';
    return out;
}

}  // namespace

namespace {

Child start(HANDLE token, const std::wstring& exe, const std::wstring& arguments, const EnvironmentChanges& changes,
            const std::wstring& directory, bool suspended) {
    std::wstring command = L"\"" + exe + L"\"";
    if (!arguments.empty()) command += L" " + arguments;
    std::wstring environment = environment_block(changes);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (suspended ? CREATE_SUSPENDED : 0);
    const wchar_t* folder = directory.empty() ? nullptr : directory.c_str();
    // Wine, on a loaded machine, now and then fails a start with "internal error" before the
    // program runs at all; that says nothing about the program, so such a start is tried again.
    bool started = false;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        started = token ? CreateProcessAsUserW(token, exe.c_str(), command.data(), nullptr, nullptr, FALSE, flags,
                                               environment.data(), folder, &startup, &info)
                        : CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, flags,
                                         environment.data(), folder, &startup, &info);
        error = started ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_INTERNAL_ERROR) break;
        Sleep(200);
    }
    if (!started) {
        ADD_FAILURE() << "cannot start " << utf8(exe) << ": " << os_reason(error);
        return {};
    }
    if (!suspended) {
        CloseHandle(info.hThread);
        info.hThread = nullptr;
    }
    return {info.hProcess, info.dwProcessId, info.hThread};
}

}  // namespace

Child start_process(const std::wstring& exe, const std::wstring& arguments, const EnvironmentChanges& changes,
                    const std::wstring& directory, bool suspended) {
    return start(nullptr, exe, arguments, changes, directory, suspended);
}

Child start_process_as(HANDLE token, const std::wstring& exe, const std::wstring& arguments,
                       const EnvironmentChanges& changes) {
    return start(token, exe, arguments, changes, L"", false);
}

void resume(Child& child) {
    if (!child.suspended_thread) return;
    ResumeThread(child.suspended_thread);
    CloseHandle(child.suspended_thread);
    child.suspended_thread = nullptr;
}

std::optional<DWORD> wait_exit(Child& child, DWORD timeout_ms) {
    resume(child);
    if (!child.process) return std::nullopt;
    if (WaitForSingleObject(child.process, timeout_ms) != WAIT_OBJECT_0) {
        TerminateProcess(child.process, 99);
        WaitForSingleObject(child.process, 5000);
        CloseHandle(child.process);
        child.process = nullptr;
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(child.process, &code);
    CloseHandle(child.process);
    child.process = nullptr;
    return code;
}

std::optional<DWORD> run_process(const std::wstring& exe, const std::wstring& arguments,
                                 const EnvironmentChanges& changes, DWORD timeout_ms, const std::wstring& directory) {
    Child child = start_process(exe, arguments, changes, directory);
    return wait_exit(child, timeout_ms);
}

}  // namespace testing_support
