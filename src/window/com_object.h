// The base of the small COM objects this program hands to WebView2: reference counting and
// QueryInterface for one interface, so that each handler implements only Invoke.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <atomic>
#include <new>
#include <utility>

// A handler derives from ComObject<Itself, Interface> and implements only Invoke;
// it is created with make_com_object and owned through ComPtr.

template <class Derived, class Interface>
class ComObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(iid, __uuidof(Interface)) || IsEqualIID(iid, __uuidof(IUnknown))) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }

    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        // No virtual destructor (it would add vtable slots after Invoke): delete as the real type.
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    ComObject() = default;
    ~ComObject() = default;

private:
    std::atomic<ULONG> references_{1};
};

// Creates a handler whose one reference is owned by the returned pointer; an empty pointer
// when memory runs out (no exception leaves COM code).
template <class T, class... Args>
Microsoft::WRL::ComPtr<T> make_com_object(Args&&... args) {
    T* created = new (std::nothrow) T(std::forward<Args>(args)...);
    // MinGW's ComPtr::Attach takes a reference of its own (unlike WRL's), so the pointer takes
    // one by construction and the creation reference is given back.
    Microsoft::WRL::ComPtr<T> object(created);
    if (created != nullptr) created->Release();
    return object;
}
