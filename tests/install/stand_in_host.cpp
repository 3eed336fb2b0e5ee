// Stands in for the host application in the process tests (built as Affinity.exe and copied
// under other names). Usage: Affinity.exe READY_EVENT QUIT_EVENT [SETTINGS_FILE]
// Sets the named READY_EVENT once running, waits for QUIT_EVENT, and on quitting writes
// SETTINGS_FILE as the host would, without the element, when one is given.
#include <windows.h>

#include <string>

namespace {

const char kRewrittenPreferences[] =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Settings>\r\n\t<Directories />\r\n</Settings>";

bool write_preferences(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const DWORD size = sizeof kRewrittenPreferences - 1;
    const bool ok = WriteFile(file, kRewrittenPreferences, size, &written, nullptr) && written == size;
    CloseHandle(file);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
    HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
    if (!ready || !quit) return 3;
    SetEvent(ready);
    // A test that dies must not leave a host behind for ever.
    if (WaitForSingleObject(quit, 10 * 60 * 1000) != WAIT_OBJECT_0) return 4;
    if (argc >= 4 && !write_preferences(argv[3])) return 5;
    return 0;
}
