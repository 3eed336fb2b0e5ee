// The dialogue that stands in for the installer window: confirm, install, report.
#pragma once
#include <string_view>

#include "languages.h"

enum class DialogueOutcome { Cancelled, Installed, Failed };

// Box styles: confirm MB_OKCANCEL|MB_ICONINFORMATION, done MB_OK|MB_ICONINFORMATION,
// failed MB_OK|MB_ICONERROR.
inline constexpr unsigned kConfirmStyle = 0x41;
inline constexpr unsigned kDoneStyle = 0x40;
inline constexpr unsigned kFailedStyle = 0x10;

// Shows `text` in a box captioned "Lumivane" with no owner; true only when OK was chosen.
bool show_message_box(std::string_view text, unsigned style);
DialogueOutcome run_message_box_dialogue(UiLanguage language);

// The dialogue's own closing boxes, for an install that the installer window made but could not
// report (its page was lost): the done text, or the failed text with `error` in it.
void show_done_message(UiLanguage language);
void show_failed_message(UiLanguage language, std::string_view error);
