#include "run_setup.h"

#include <windows.h>

#include "account_refusal.h"
#include "background_task.h"
#include "embedded.h"
#include "environment.h"
#include "host_search.h"
#include "install_action.h"
#include "installer_window.h"
#include "languages.h"
#include "message_box_dialogue.h"
#include "placement.h"
#include "removal.h"
#include "run_log.h"

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

// Everything the installation takes from the environment, read here once and handed down.
InstallInputs read_install_inputs() {
    return InstallInputs{FolderVariables{environment_value(L"ORVELLE_SETUP_DIR"), environment_value(L"USERPROFILE")},
                         this_users_host_search(host_executable_name(environment_value(L"ORVELLE_SETUP_APP")))};
}

// A profile no one will see: nothing is installed, removed or shown. Only someone at the desktop
// who typed in another account's credentials is told why, in the dialogue's failure box.
[[noreturn]] void refuse(const AccountRefusal& refusal, bool windowed) {
    log_event(refusal.reason);
    if (windowed && refusal.kind == RefusedAccount::OtherUser)
        show_failed_message(choose_ui_language(), refusal.reason);
    end_process(1);
}

void run_quiet(const InstallInputs& inputs) {
    // Its failure is in the log already (install_action.h).
    if (!install_into_resolved_folder(inputs).ok()) end_process(1);
    wait_or_fail();
}

// Removal shows nothing, whatever ORVELLE_SETUP_QUIET says.
void run_removal(const InstallInputs& inputs) {
    const Result<std::wstring> folder = resolve_plugin_folder(inputs.folder);
    if (!folder.ok()) fail("removal failed: " + folder.error());
    if (const Status removed = remove_plugin(folder.value(), inputs.host); !removed.ok())
        fail("removal failed: " + removed.error());
    wait_or_fail();
}

InstallAction install_action_for(const InstallInputs& inputs) {
    return [inputs] { return install_into_resolved_folder(inputs); };
}

// What the window shows and runs, read from the environment here so the window never reads it.
PageSetup page_setup_for(UiLanguage language, const InstallInputs& inputs) {
    const Result<std::wstring> folder = resolve_plugin_folder(inputs.folder);
    PageSetup setup;
    setup.language_code = ui_language_code(language);
    setup.version = kSetupVersion;
    setup.plugin_folder = folder.ok() ? folder.value() : std::wstring();
    setup.auto_start = environment_has(L"ORVELLE_SETUP_AUTO");
    setup.devtools = environment_has(L"ORVELLE_DEVTOOLS");
    setup.local_app_data = environment_value(L"LOCALAPPDATA");
    setup.install = install_action_for(inputs);
    return setup;
}

// An install the window made but could not report (its page was lost after it): the dialogue's
// own box.
void show_unshown_install(UiLanguage language, const std::optional<Status>& install) {
    if (!install) return;
    if (install->ok())
        show_done_message(language);
    else
        show_failed_message(language, install->error());
}

// Ends the process in every case: a window given up may have left its thread blocked inside
// WebView2, and only the process's end takes it away.
[[noreturn]] void run_message_boxes(UiLanguage language, const InstallInputs& inputs) {
    switch (run_message_box_dialogue(language, install_action_for(inputs))) {
        case DialogueOutcome::Cancelled: end_process(0);
        case DialogueOutcome::Installed: wait_or_fail(); end_process(0);
        case DialogueOutcome::Failed: end_process(1);
    }
    end_process(0);
}

}  // namespace

void run_setup() {
    open_run_log(environment_value(L"ORVELLE_SETUP_LOG"));
    const bool removal = environment_has(L"ORVELLE_SETUP_REMOVE");
    const bool quiet = environment_has(L"ORVELLE_SETUP_QUIET");
    log_mode(removal ? "removal" : quiet ? "quiet run" : "window run");
    const InstallInputs inputs = read_install_inputs();
    if (const std::optional<AccountRefusal> refusal = account_refusal(read_setup_account(),
                                                                      inputs.folder.chosen_folder.has_value()))
        refuse(*refusal, !removal && !quiet);
    if (removal) return run_removal(inputs);
    if (quiet) return run_quiet(inputs);
    const UiLanguage language = choose_ui_language();
    const WindowOutcome window = run_installer_window(page_setup_for(language, inputs));
    if (const auto line = window_log_line(window)) log_event(*line);
    // Closed before anything could be shown (WM_CLOSE, the session's end): nothing more.
    if (window.end == WindowEnd::ClosedWhileStarting) end_process(0);
    if (const WindowResult result = window_result(window); result != WindowResult::NotShown) {
        if (window.end == WindowEnd::PageLost) show_unshown_install(language, window.last_install);
        wait_or_fail();
        end_process(static_cast<UINT>(result));
    }
    run_message_boxes(language, inputs);
}
