// Process entry: the setup is started by a double click or by an admin's deployment; the run
// modes are chosen in run_setup.
#include <windows.h>

#include "run_log.h"
#include "run_setup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // An installer is started from Downloads, where a planted DLL may wait: from here on,
    // DLLs come from the system folder only.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    run_setup();
    log_exit_code(0);
    return 0;
}
