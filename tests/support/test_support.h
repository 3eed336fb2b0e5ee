// Helpers for the Windows-side tests: scratch folders, files, and running programs with an
// environment of the test's choosing.
#pragma once
#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// The real Lumivane-Setup.exe (from LUMIVANE_SETUP_EXE, set by ctest).
std::wstring setup_exe();
// The same program built with the tests' short time limits (LUMIVANE_SHORT_LIMITS_SETUP_EXE).
std::wstring short_limits_setup_exe();
// A file built beside the test programs (LUMIVANE_TEST_BIN), e.g. a helper executable.
std::wstring test_binary(const std::wstring& name);

// A fresh folder under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

void remove_tree(const std::wstring& path);
std::optional<std::string> read_bytes(const std::wstring& path);
bool write_bytes(const std::wstring& path, const std::string& bytes);
bool exists(const std::wstring& path);
std::vector<std::wstring> folder_names(const std::wstring& folder);

// The variable's value in this process (the empty one included); nullopt when it is not set.
std::optional<std::wstring> environment_variable(const wchar_t* name);

// Sets variables of this process's environment for one scope and puts the earlier values back
// when it ends (a variable that was not set is removed again), last change first.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    // A value sets the variable, nullopt removes it.
    void set(const wchar_t* name, const std::optional<std::wstring>& value);

private:
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

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
void resume(Child& child);
// Waits up to `timeout_ms`; the exit code, or nullopt when it is still running (then it is killed).
std::optional<DWORD> wait_exit(Child& child, DWORD timeout_ms);
// Runs and waits: the exit code, or nullopt on a hang (killed after `timeout_ms`).
std::optional<DWORD> run_process(const std::wstring& exe, const std::wstring& arguments,
                                 const EnvironmentChanges& changes, DWORD timeout_ms = 60000,
                                 const std::wstring& directory = L"");

// The system's reason text for an error code, as the setup builds it.
std::string os_reason(DWORD code);
std::string utf8(const std::wstring& text);

// The embedded module bytes as the executable carries them.
std::string module_bytes();

}  // namespace testing_support
