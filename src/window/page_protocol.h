// The page protocol: the texts the page sends, the host's replies to an install request, and
// the init message the host answers "ready" with (what the page needs to fill its ask screen).
#pragma once
#include <string>
#include <string_view>

#include "result.h"

enum class PageRequest { Ready, Install, Mail, Close, Unknown };

// Exactly "ready", "install", "mail" or "close" (case-sensitive, nothing around them);
// every other text is Unknown.
PageRequest match_page_message(std::string_view text);

// "done" for a successful install, else "error", a line feed and the failure text verbatim.
std::string install_reply(const Status& outcome);

// The number of effects the plug-in offers, shown on the ask screen.
inline constexpr int kEffectCount = 30;

// Escapes text for a JSON string: backslash and double quote with a backslash, and the control
// characters U+0000..U+001F as \u00xx (a folder from ORVELLE_SETUP_DIR may hold a tab or a line
// feed, which JSON does not allow raw). Everything else, UTF-8 included, passes unchanged; in
// UTF-16 text an unpaired surrogate, which no JSON text may hold, becomes U+FFFD.
std::string json_escape(std::string_view text);
std::wstring json_escape(std::wstring_view text);

// "init", a line feed, then
// {"lang":"..","version":"..","effects":30,"path":"..","auto":true|false}
// with no blanks, in UTF-16 as it is posted. `folder` is display text as the system gave it,
// empty when it could not be resolved.
std::wstring build_init_message(std::string_view language_code, std::string_view version, std::wstring_view folder,
                                bool auto_start);
