// Runs a program (the window smoke test) with the stand-in WebView2 runtime registered in this
// Wine prefix the way the runtime's updater registers the real one: the stable channel's
// ClientState key in HKCU names a versioned folder holding EBWebView\x64\EmbeddedBrowserWebView.dll.
// Only for a throwaway prefix (in_throwaway_prefix.sh); never on a real machine.
//   with_stand_in.exe <program> [arguments...]
// Exit code: the program's, or 2 when the stand-in could not be registered or the program started.
#include <windows.h>

#include <cstdio>
#include <string>

#include "stand_in_registry.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: with_stand_in <program> [arguments...]\n", stderr);
        return 2;
    }
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    const std::wstring runtime = std::wstring(temp) + L"lumivane-stand-in\\131.0.2903.146";
    if (!stand_in::place(runtime) || !stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, runtime)) {
        std::fwprintf(stderr, L"could not register the stand-in runtime %ls\n", stand_in::built_dll().c_str());
        return 2;
    }

    std::wstring command;
    for (int i = 1; i < argc; ++i) command += (i > 1 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    // The program writes its report to the same output as this one.
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(argv[1], command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        std::fwprintf(stderr, L"could not start %ls (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    CloseHandle(info.hThread);
    WaitForSingleObject(info.hProcess, INFINITE);  // the test's own time limit guards against a hang
    DWORD code = 2;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    return static_cast<int>(code);
}
