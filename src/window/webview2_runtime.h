// The program's own stand-in for the SDK loader's CreateCoreWebView2EnvironmentWithOptions:
// finds the installed WebView2 runtime through the updater's registry values and starts it,
// without shipping or loading WebView2Loader.dll. The rules that turn a registry value into the
// runtime's DLL path make no system calls, so they are tested directly.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "webview2.h"

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

// Full path of the client DLL of the installed runtime to use, or nothing when no usable
// runtime is registered. Channels from most to least stable; per channel the per-machine
// install first, then the per-user one; the first place whose DLL can be opened for reading and
// execution wins.
std::optional<std::wstring> find_webview2_runtime();

// Whether the caller still waits for the environment: asked before a failed start is retried.
using StillWaited = std::function<bool()>;

// Starts creating a WebView2 environment with the installed runtime, no browser folder and no
// options. The result arrives through handler->Invoke on this thread while it pumps messages.
// A start that fails, at once or through its completion, is retried once with a fresh look-up,
// but only while `still_waited` says so: a start the caller has given up (its limit passed while
// the runtime blocked or answered late) starts no browser processes that no one would use.
// A delivered environment is handed on only when it answers QueryInterface for
// ICoreWebView2Environment (else its failure comes with no environment).
// E_POINTER without a handler; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when no runtime is
// installed; a load or entry-point failure as its HRESULT; else what the runtime returns.
HRESULT create_webview2_environment(const wchar_t* user_data_folder,
                                    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler,
                                    StillWaited still_waited);
