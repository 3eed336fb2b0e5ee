#include "controller_slot.h"

#include <utility>

namespace {
// A plain pointer holding one reference: a thread_local with a destructor would run at thread
// exit, after the runtime may be gone; the window empties the slot before that.
thread_local ICoreWebView2Controller* held = nullptr;
}  // namespace

void ControllerSlot::put(ICoreWebView2Controller* controller) {
    if (controller != nullptr) controller->AddRef();
    ICoreWebView2Controller* previous = std::exchange(held, controller);
    if (previous != nullptr) previous->Release();
}

Microsoft::WRL::ComPtr<ICoreWebView2Controller> ControllerSlot::peek() { return held; }

void ControllerSlot::empty() { put(nullptr); }
