// One setup at a time on a folder (or a file) that setups share, across processes: a named mutex
// in the session's namespace.
#pragma once
#include <string>

#include "win32_handles.h"

// "Local\Lumivane-Setup-" and a hash of the path's full form in upper case, so that every
// spelling of one folder ("C:\x\Plugins", "c:\X\plugins\", "C:\x\Plugins\.") gives one name.
std::wstring folder_lock_name(const std::wstring& path);

// The mutex of a folder or file, opened or created; an empty handle when the system refuses one (the work
// then goes on unguarded, as it would without a second setup).
UniqueHandle folder_mutex(const std::wstring& path);
