// The setup's five languages and the texts of its message boxes.
#pragma once
#include <string>
#include <string_view>

enum class UiLanguage { English, Spanish, Portuguese, Japanese, Indonesian };

// "en", "es", "pt", "ja" or "id": the language's only outward form.
std::string_view ui_language_code(UiLanguage language);
// Maps a Windows language identifier by its primary language (low ten bits); English otherwise.
UiLanguage ui_language_from_langid(unsigned short langid);
// The user's display language, read from the system.
UiLanguage choose_ui_language();

struct SetupTexts {
    std::string_view confirm;  // holds "{v}" once
    std::string_view done;
    std::string_view failed;  // holds "{e}" once
};
const SetupTexts& setup_texts_for(UiLanguage language);

// Replaces every non-overlapping occurrence of `placeholder`; the value is not scanned again.
std::string fill_placeholder(std::string_view text, std::string_view placeholder, std::string_view value);
