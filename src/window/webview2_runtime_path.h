// Pure rules for turning an installed WebView2 runtime's registry value into the path of the
// runtime's client DLL. No system calls, so they are tested directly.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

using RuntimeVersion = std::array<unsigned long, 4>;

// The oldest runtime of the stable 1.0 line; every interface this program needs predates it.
inline constexpr RuntimeVersion kOldestUsableRuntime{86, 0, 616, 0};

// "a.b.c.d": exactly four dot-separated unsigned decimal numbers, nothing else.
std::optional<RuntimeVersion> parse_runtime_version(std::wstring_view text);

// Numeric comparison, most significant part first (never as strings: "100" > "99").
bool runtime_version_at_least(const RuntimeVersion& version, const RuntimeVersion& floor);

// From the value "EBWebView" (the versioned runtime folder) to
// "<folder>\EBWebView\x64\EmbeddedBrowserWebView.dll". Empty when the value is not an absolute
// drive-letter or UNC path, or when its last component is not a usable version
// (the updater leaves placeholders such as 0.0.0.0 behind).
std::optional<std::wstring> runtime_dll_path(std::wstring_view registry_value);
