// Registered as the mail program of a throwaway test prefix: writes the command line it was
// started with into the file that LUMIVANE_MAIL_RECORD names, so a test can see what the setup
// asked the shell to open, then a line feed and the time this process was created (FILETIME
// ticks, decimal), so the test can tell whether the setup was still inside the page's event.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"LUMIVANE_MAIL_RECORD", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    FILETIME created{}, unused{};
    GetProcessTimes(GetCurrentProcess(), &created, &unused, &unused, &unused);
    const std::wstring text = std::wstring(GetCommandLineW()) + L"\n" +
                              std::to_wstring((ULONGLONG(created.dwHighDateTime) << 32) | created.dwLowDateTime);
    DWORD written = 0;
    WriteFile(file, text.c_str(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    return 0;
}
