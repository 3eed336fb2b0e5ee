// Stands in for a running host that has loaded a plug-in module: loads the module given as the
// first argument, then writes the second argument as a "loaded" marker and waits to be killed.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    if (!LoadLibraryW(argv[1])) return 3;
    HANDLE marker = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return 4;
    CloseHandle(marker);
    Sleep(INFINITE);
    return 0;
}
