#include "message_box_dialogue.h"

#include <windows.h>

#include <string>

#include "embedded.h"
#include "text.h"

namespace {

// The failure is in the log already (install_action.h).
DialogueOutcome report_failure(UiLanguage language, const std::string& error) {
    show_failed_message(language, error);
    return DialogueOutcome::Failed;
}

}  // namespace

void show_done_message(UiLanguage language) { show_message_box(setup_texts_for(language).done, kDoneStyle); }

void show_failed_message(UiLanguage language, std::string_view error) {
    show_message_box(fill_placeholder(setup_texts_for(language).failed, "{e}", error), kFailedStyle);
}

bool show_message_box(std::string_view text, unsigned style) {
    const std::wstring wide_text = utf8_to_utf16(text);
    return MessageBoxW(nullptr, wide_text.c_str(), L"Lumivane", style) == IDOK;
}

DialogueOutcome run_message_box_dialogue(UiLanguage language, const InstallAction& install) {
    const SetupTexts& texts = setup_texts_for(language);
    // Cancel, Escape, the close button and a box that cannot be shown all mean "not now".
    if (!show_message_box(fill_placeholder(texts.confirm, "{v}", kSetupVersion), kConfirmStyle))
        return DialogueOutcome::Cancelled;

    const Status installed = install();
    if (!installed.ok()) return report_failure(language, installed.error());

    show_done_message(language);
    return DialogueOutcome::Installed;
}
