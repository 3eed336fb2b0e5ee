// Process entry and the choice of run mode: quiet, windowed, or the message boxes when the
// window cannot come up. The exit code tells an admin how the run went.
#include <windows.h>

#include "background_task.h"
#include "embedded.h"
#include "environment.h"
#include "installer_window.h"
#include "languages.h"
#include "message_box_dialogue.h"
#include "placement.h"
#include "removal.h"
#include "run_log.h"
#include "system_account.h"
#include "text.h"

namespace {

[[noreturn]] void end_process(UINT code) {
    log_exit_code(code);
    ExitProcess(code);
}

// A quiet run or a removal that cannot go on: its reason goes to the log, if any, and nowhere else.
[[noreturn]] void fail(const std::string& reason) {
    log_event(reason);
    end_process(1);
}

void log_mode(std::string_view mode) {
    log_event("Lumivane Setup " + std::string(kSetupVersion) + ", " + std::string(mode));
}

// Before the process ends, the host watch (if any) must have finished its work.
void wait_or_fail() {
    if (!wait_for_background_task()) end_process(1);
}

void run_quiet() {
    const Result<std::wstring> folder = resolve_plugin_folder();
    if (!folder.ok()) fail("install failed: " + folder.error());
    const Result<std::wstring> installed = install_plugin(folder.value());
    if (!installed.ok()) fail("install failed: " + installed.error());
    wait_or_fail();
}

// Removal shows nothing, whatever ORVELLE_SETUP_QUIET says.
void run_removal() {
    const Result<std::wstring> folder = resolve_plugin_folder();
    if (!folder.ok()) fail("removal failed: " + folder.error());
    if (const Status removed = remove_plugin(folder.value()); !removed.ok()) fail("removal failed: " + removed.error());
    wait_or_fail();
}

// The page's install request: the folder is resolved afresh each time, as the quiet run does.
Status install_from_page() {
    const Result<std::wstring> folder = resolve_plugin_folder();
    const Result<std::wstring> installed =
        folder.ok() ? install_plugin(folder.value()) : Result<std::wstring>::failure(folder.error());
    if (installed.ok()) return Status::success();
    log_event("install failed: " + installed.error());
    return Status::failure(installed.error());
}

// What the window shows and runs, read from the environment here so the window never reads it.
PageSetup page_setup_for(UiLanguage language) {
    const Result<std::wstring> folder = resolve_plugin_folder();
    PageSetup setup;
    setup.language_code = ui_language_code(language);
    setup.version = kSetupVersion;
    setup.plugin_folder = folder.ok() ? utf16_to_utf8(folder.value()) : std::string();
    setup.auto_start = environment_has(L"ORVELLE_SETUP_AUTO");
    setup.devtools = environment_has(L"ORVELLE_DEVTOOLS");
    setup.local_app_data = environment_value(L"LOCALAPPDATA");
    setup.install = install_from_page;
    return setup;
}

// An install the window made but could not report (its page was lost): the dialogue's own box.
void show_unshown_install(UiLanguage language, const std::optional<Status>& install) {
    if (!install) return;
    if (install->ok()) show_done_message(language);
    else show_failed_message(language, install->error());
}

void run_message_boxes(UiLanguage language) {
    switch (run_message_box_dialogue(language)) {
        case DialogueOutcome::Cancelled: return;
        case DialogueOutcome::Installed: wait_or_fail(); return;
        case DialogueOutcome::Failed: end_process(1);
    }
}

void run_setup() {
    open_run_log(environment_value(L"ORVELLE_SETUP_LOG"));
    const bool removal = environment_has(L"ORVELLE_SETUP_REMOVE");
    const bool quiet = environment_has(L"ORVELLE_SETUP_QUIET");
    log_mode(removal ? "removal" : quiet ? "quiet run" : "window run");
    // Nothing is installed, removed or shown for the SYSTEM account's profile.
    if (const auto refusal = system_account_refusal(process_user_sid(), environment_has(L"ORVELLE_SETUP_DIR")))
        fail(std::string(*refusal));
    if (removal) return run_removal();
    if (quiet) return run_quiet();
    const UiLanguage language = choose_ui_language();
    const WindowOutcome window = run_installer_window(page_setup_for(language));
    if (window.result != WindowResult::NotShown) {
        show_unshown_install(language, window.unshown_install);
        wait_or_fail();
        end_process(static_cast<UINT>(window.result));
    }
    log_event("the window could not be shown: message boxes");
    run_message_boxes(language);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // An installer is started from Downloads, where a planted DLL may wait: from here on,
    // DLLs come from the system folder only.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    run_setup();
    log_exit_code(0);
    return 0;
}
