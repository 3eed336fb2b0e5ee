// Registered as the mail program of a throwaway test prefix: writes the command line it was
// started with into the file that LUMIVANE_MAIL_RECORD names, so a test can see what the setup
// asked the shell to open.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"LUMIVANE_MAIL_RECORD", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    const wchar_t* command_line = GetCommandLineW();
    DWORD written = 0;
    WriteFile(file, command_line, static_cast<DWORD>(lstrlenW(command_line) * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    return 0;
}
