// The first message the page gets from the host: what it needs to fill its ask screen.
#pragma once
#include <string>
#include <string_view>

// The number of effects the plug-in offers, shown on the ask screen.
inline constexpr int kEffectCount = 30;

// Escapes text for a JSON string: backslash and double quote with a backslash, and the control
// characters U+0000..U+001F as \u00xx (a folder from ORVELLE_SETUP_DIR may hold a tab or a line
// feed, which JSON does not allow raw). Everything else, UTF-8 included, passes unchanged.
std::string json_escape(std::string_view text);

// "init", a line feed, then
// {"lang":"..","version":"..","effects":30,"path":"..","auto":true|false}
// with no blanks. `folder` is display text (UTF-8), empty when it could not be resolved.
std::string build_init_message(std::string_view language_code, std::string_view version,
                               std::string_view folder, bool auto_start);
