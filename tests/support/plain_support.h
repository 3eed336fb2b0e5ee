// The part of the test support that needs no GoogleTest: scratch folders, files, the environment
// and text. The smoke program, a plain Windows program, uses it as the test programs do.
#pragma once
#include <windows.h>

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

// The system's reason text for an error code, as the setup builds it.
std::string os_reason(DWORD code);
std::string utf8(const std::wstring& text);

// The embedded module bytes as the executable carries them.
std::string module_bytes();

}  // namespace testing_support
