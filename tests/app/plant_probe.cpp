// Control for the planted-DLL test: loads the named DLL the ordinary way, from its own folder
// first, to show that a planted DLL there is taken when nothing prevents it.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    return LoadLibraryW(argv[1]) ? 0 : 1;
}
