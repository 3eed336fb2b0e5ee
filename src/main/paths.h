// Windows path rules for joining a fixed component and taking a parent; text only, no file access.
#pragma once
#include <optional>
#include <string>
#include <string_view>

// A backslash or a slash: Windows takes either between components.
bool is_path_separator(wchar_t c);
// Starts with a drive letter and a colon ("C:", "c:\x", "C:x").
bool has_drive_prefix(std::wstring_view path);

// `base` and `component` with one backslash between them, except where `base` is empty, already
// ends with a separator, or is a bare drive ("C:").
std::wstring join_path(std::wstring_view base, std::wstring_view component);
// The path without its last component. A root ("C:\", "\\server\share\", "\\?\C:\",
// "\\?\UNC\server\share") and the empty path have none; a single relative component has the
// empty path as parent.
std::optional<std::wstring> parent_path(std::wstring_view path);
