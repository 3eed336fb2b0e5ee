#pragma once
// The text edit of the host's plug-in preferences, apart from any file access, so that it builds
// on any platform and can be fed arbitrary bytes. No Windows header here.

#include <optional>
#include <string>
#include <string_view>

#include "result.h"

// Success with the whole new file, or with nothing when the value is already true; a failure's
// text is the reason, without the file's path (the file layer puts that in front).
using SettingsEdit = Result<std::optional<std::string>>;

inline constexpr std::string_view allow_element = "<AllowUnknownPlugins>True</AllowUnknownPlugins>";
inline constexpr std::string_view settings_end_tag = "</Settings>";
inline constexpr std::string_view incomplete_xml_reason = "XML incompleto";
inline constexpr std::string_view unexpected_file_reason = "no es el archivo de ajustes esperado";

// The 300 bytes a missing preferences file is created from.
std::string_view new_settings_text();

// Brings the preferences file's bytes into line: the element inserted or replaced, every other byte
// kept, or no new text when the value is already true. Occurrences inside XML comments, CDATA
// sections and processing instructions do not count; those are kept byte for byte. An empty file,
// or one of nothing but a byte-order mark and white space, gives the new file's text.
SettingsEdit edit_host_settings(std::string_view file_bytes);
