// Environment lookups. A variable counts as set when it exists, whatever its value, the empty
// one included; a lookup that fails for another reason counts as unset.
#pragma once
#include <optional>
#include <string>

std::optional<std::wstring> environment_value(const wchar_t* name);
bool environment_has(const wchar_t* name);
