// Move-only owners of the window side's handle kinds, in the style of win32_handles.h.
#pragma once
#include <windows.h>
#include <objbase.h>

#include "win32_handles.h"

struct RegistryKeyTraits {
    using Value = HKEY;
    static Value empty() { return nullptr; }
    static void close(Value h) { RegCloseKey(h); }
};
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;

// A library loaded for a while; one kept for the life of the process is released from it.
struct ModuleTraits {
    using Value = HMODULE;
    static Value empty() { return nullptr; }
    static void close(Value h) { FreeLibrary(h); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

struct IconTraits {
    using Value = HICON;
    static Value empty() { return nullptr; }
    static void close(Value h) { DestroyIcon(h); }
};
using UniqueIcon = UniqueResource<IconTraits>;

// Any GDI object released with DeleteObject; here the window's background brush.
struct BrushTraits {
    using Value = HBRUSH;
    static Value empty() { return nullptr; }
    static void close(Value h) { DeleteObject(h); }
};
using UniqueBrush = UniqueResource<BrushTraits>;

// The thread's COM initialisation: undone only when it succeeded (S_OK or S_FALSE), since
// each successful CoInitializeEx needs exactly one CoUninitialize.
class ComApartment {
public:
    explicit ComApartment(DWORD model) : result_(CoInitializeEx(nullptr, model)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }

private:
    HRESULT result_;
};
