// Installing and registering WebView2 runtimes in a throwaway test prefix the way the updater
// does: a versioned folder holding EBWebView\x64\EmbeddedBrowserWebView.dll, named by the value
// EBWebView of HKLM (32-bit view) or HKCU Software\Microsoft\EdgeUpdate\ClientState\{channel}.
#pragma once
#include <windows.h>

#include <string>

namespace stand_in {

inline constexpr wchar_t kStableChannel[] = L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
inline constexpr wchar_t kBetaChannel[] = L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}";
inline constexpr wchar_t kStableBrowser[] = L"{56EB18F8-B008-4CBD-B6D2-8C97FE7E9062}";

// The stand-in runtime DLL as built.
std::wstring built_dll();
// Copies the stand-in into <version_folder>\EBWebView\<arch>\EmbeddedBrowserWebView.dll.
bool place(const std::wstring& version_folder, const wchar_t* arch = L"x64");
// Writes the value EBWebView (REG_SZ) for the channel; HKLM through its 32-bit view.
bool register_folder(HKEY root, const wchar_t* channel, const std::wstring& value);
// Writes only the channel's key, without EBWebView.
bool register_empty_key(HKEY root, const wchar_t* channel);
// Removes every channel's key from HKLM and HKCU.
void unregister_all();

}  // namespace stand_in
