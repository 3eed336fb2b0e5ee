// The hand-written WebView2 declarations against the published layout, checked independently of
// them: every method the program calls is called through the declarations on an object whose
// vtable is a plain array of functions that each record their own slot number; IIDs are compared
// with their registry text form as the system parses it; plain types by size and offset.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <utility>

#include "com_handlers.h"
#include "page_bridge.h"
#include "webview2.h"

namespace {

int g_last_slot = -1;

template <int Slot>
HRESULT STDMETHODCALLTYPE record_slot(void*) {
    g_last_slot = Slot;
    return S_OK;
}

constexpr int kSlots = 64;

template <int... Slots>
constexpr std::array<void*, kSlots> make_slot_table(std::integer_sequence<int, Slots...>) {
    return {reinterpret_cast<void*>(&record_slot<Slots>)...};
}

// An "object" is a pointer to its vtable; the vtable is this table.
struct SlotRecorder {
    const void* const* vtable;
};

const std::array<void*, kSlots> kTable = make_slot_table(std::make_integer_sequence<int, kSlots>{});

template <class Interface>
Interface* as(SlotRecorder& recorder) {
    return reinterpret_cast<Interface*>(&recorder);
}

// Calls `call` on the recorder seen as `Interface` and gives the slot it landed on.
template <class Interface, class Call>
int slot_of(Call call) {
    SlotRecorder recorder{kTable.data()};
    g_last_slot = -1;
    call(as<Interface>(recorder));
    return g_last_slot;
}

TEST(WebView2Abi, CalledMethodsLandOnThePublishedSlots) {
    EventRegistrationToken token{};
    LPWSTR text = nullptr;
    ICoreWebView2** webview_out = nullptr;
    ICoreWebView2Settings** settings_out = nullptr;

    EXPECT_EQ(slot_of<ICoreWebView2Environment>([](auto* e) { e->CreateCoreWebView2Controller(nullptr, nullptr); }), 3);
    EXPECT_EQ(slot_of<ICoreWebView2Controller>([](auto* c) { c->put_IsVisible(TRUE); }), 4);
    EXPECT_EQ(slot_of<ICoreWebView2Controller>([](auto* c) { c->put_Bounds(RECT{1, 2, 3, 4}); }), 6);
    EXPECT_EQ(
        slot_of<ICoreWebView2Controller>([](auto* c) { c->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC); }),
        12);
    EXPECT_EQ(slot_of<ICoreWebView2Controller>([](auto* c) { c->Close(); }), 24);
    EXPECT_EQ(slot_of<ICoreWebView2Controller>([&](auto* c) { c->get_CoreWebView2(webview_out); }), 25);
    EXPECT_EQ(slot_of<ICoreWebView2Controller2>([](auto* c) { c->put_DefaultBackgroundColor({255, 15, 13, 13}); }), 27);
    // Through the derived interface, the base's slots stay where they are.
    EXPECT_EQ(slot_of<ICoreWebView2Controller2>([](auto* c) { c->put_Bounds(RECT{}); }), 6);

    EXPECT_EQ(slot_of<ICoreWebView2>([&](auto* w) { w->get_Settings(settings_out); }), 3);
    EXPECT_EQ(slot_of<ICoreWebView2>([](auto* w) { w->NavigateToString(L""); }), 6);
    EXPECT_EQ(slot_of<ICoreWebView2>([&](auto* w) { w->add_NavigationStarting(nullptr, &token); }), 7);
    EXPECT_EQ(slot_of<ICoreWebView2>([](auto* w) { w->PostWebMessageAsString(L""); }), 33);
    EXPECT_EQ(slot_of<ICoreWebView2>([&](auto* w) { w->add_WebMessageReceived(nullptr, &token); }), 34);
    EXPECT_EQ(slot_of<ICoreWebView2>([&](auto* w) { w->add_NewWindowRequested(nullptr, &token); }), 44);
    EXPECT_EQ(slot_of<ICoreWebView2>([&](auto* w) { w->add_ProcessFailed(nullptr, &token); }), 25);

    EXPECT_EQ(slot_of<ICoreWebView2Settings>([](auto* s) { s->put_IsStatusBarEnabled(FALSE); }), 10);
    EXPECT_EQ(slot_of<ICoreWebView2Settings>([](auto* s) { s->put_AreDevToolsEnabled(FALSE); }), 12);
    EXPECT_EQ(slot_of<ICoreWebView2Settings>([](auto* s) { s->put_AreDefaultContextMenusEnabled(FALSE); }), 14);
    EXPECT_EQ(slot_of<ICoreWebView2Settings>([](auto* s) { s->put_IsZoomControlEnabled(FALSE); }), 18);
    EXPECT_EQ(slot_of<ICoreWebView2Settings3>([](auto* s) { s->put_AreBrowserAcceleratorKeysEnabled(FALSE); }), 24);
    EXPECT_EQ(slot_of<ICoreWebView2Settings3>([](auto* s) { s->put_IsZoomControlEnabled(FALSE); }), 18);

    EXPECT_EQ(slot_of<ICoreWebView2WebMessageReceivedEventArgs>([&](auto* a) { a->TryGetWebMessageAsString(&text); }),
              5);
    EXPECT_EQ(slot_of<ICoreWebView2NavigationStartingEventArgs>([](auto* a) { a->put_Cancel(TRUE); }), 8);
    EXPECT_EQ(slot_of<ICoreWebView2NewWindowRequestedEventArgs>([](auto* a) { a->put_Handled(TRUE); }), 6);
    COREWEBVIEW2_PROCESS_FAILED_KIND kind{};
    EXPECT_EQ(slot_of<ICoreWebView2ProcessFailedEventArgs>([&](auto* a) { a->get_ProcessFailedKind(&kind); }), 3);

    EXPECT_EQ(slot_of<IUnknown>([](auto* u) { u->Release(); }), 2);
}

// The handlers are called by the runtime through its own idea of the layout: Invoke must be the
// entry at slot 3 of the object the runtime holds.
using InvokeEnvironment = HRESULT(STDMETHODCALLTYPE*)(void*, HRESULT, ICoreWebView2Environment*);
using InvokeEvent = HRESULT(STDMETHODCALLTYPE*)(void*, ICoreWebView2*, void*);

void* slot(void* object, int index) { return (*reinterpret_cast<void***>(object))[index]; }

TEST(WebView2Abi, HandlersExposeInvokeAtSlotThree) {
    const auto channel = std::make_shared<Completion<ICoreWebView2Environment>>();
    const auto completion = make_com_object<EnvironmentCompletedHandler>(channel);
    void* raw = static_cast<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*>(completion.Get());
    reinterpret_cast<InvokeEnvironment>(slot(raw, 3))(raw, E_ABORT, nullptr);
    EXPECT_TRUE(channel->arrived);
    EXPECT_EQ(channel->result, E_ABORT);

    // Event handlers given no sender do nothing and succeed; what matters is reaching Invoke
    // rather than a reference-counting slot (which would return a count, not S_OK).
    const auto navigation = make_com_object<NavigationHandler>();
    void* nav = static_cast<ICoreWebView2NavigationStartingEventHandler*>(navigation.Get());
    navigation->AddRef();
    navigation->AddRef();
    EXPECT_EQ(reinterpret_cast<InvokeEvent>(slot(nav, 3))(nav, nullptr, nullptr), S_OK);
    EXPECT_EQ(navigation->Release(), 2u);  // Invoke did not change the count
    navigation->Release();

    const auto failures = make_com_object<ProcessFailedHandler>(std::make_shared<BridgeState>());
    void* failed = static_cast<ICoreWebView2ProcessFailedEventHandler*>(failures.Get());
    failures->AddRef();
    EXPECT_EQ(reinterpret_cast<InvokeEvent>(slot(failed, 3))(failed, nullptr, nullptr), S_OK);
    EXPECT_EQ(failures->Release(), 1u);
}

TEST(WebView2Abi, HandlersAnswerTheirOwnIidAndIUnknownOnly) {
    const auto handler = make_com_object<NewWindowHandler>();
    Microsoft::WRL::ComPtr<IUnknown> unknown;
    Microsoft::WRL::ComPtr<ICoreWebView2NewWindowRequestedEventHandler> same;
    Microsoft::WRL::ComPtr<ICoreWebView2NavigationStartingEventHandler> other;
    EXPECT_EQ(handler->QueryInterface(IID_PPV_ARGS(&unknown)), S_OK);
    EXPECT_EQ(handler->QueryInterface(IID_PPV_ARGS(&same)), S_OK);
    EXPECT_EQ(handler->QueryInterface(IID_PPV_ARGS(&other)), E_NOINTERFACE);
    EXPECT_EQ(other.Get(), nullptr);
    EXPECT_EQ(handler->QueryInterface(__uuidof(IUnknown), nullptr), E_POINTER);
}

template <class Interface>
void expect_iid(const wchar_t* text) {
    IID parsed{};
    ASSERT_EQ(IIDFromString(text, &parsed), S_OK) << testing::PrintToString(std::wstring(text));
    EXPECT_TRUE(IsEqualIID(__uuidof(Interface), parsed)) << testing::PrintToString(std::wstring(text));
}

TEST(WebView2Abi, IidsMatchTheirRegistryText) {
    expect_iid<ICoreWebView2Environment>(L"{b96d755e-0319-4e92-a296-23436f46a1fc}");
    expect_iid<ICoreWebView2Controller>(L"{4d00c0d1-9434-4eb6-8078-8697a560334f}");
    expect_iid<ICoreWebView2Controller2>(L"{c979903e-d4ca-4228-92eb-47ee3fa96eab}");
    expect_iid<ICoreWebView2>(L"{76eceacb-0462-4d94-ac83-423a6793775e}");
    expect_iid<ICoreWebView2Settings>(L"{e562e4f0-d7fa-43ac-8d71-c05150499f00}");
    expect_iid<ICoreWebView2Settings2>(L"{ee9a0f68-f46c-4e32-ac23-ef8cac224d2a}");
    expect_iid<ICoreWebView2Settings3>(L"{fdb5ab74-af33-4854-84f0-0a631deb5eba}");
    expect_iid<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(L"{4e8a3389-c9d8-4bd2-b6b5-124fee6cc14d}");
    expect_iid<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(L"{6c4819f3-c9b7-4260-8127-c9f5bde7f68c}");
    expect_iid<ICoreWebView2WebMessageReceivedEventHandler>(L"{57213f19-00e6-49fa-8e07-898ea01ecbd2}");
    expect_iid<ICoreWebView2NavigationStartingEventHandler>(L"{9adbe429-f36d-432b-9ddc-f8881fbd76e3}");
    expect_iid<ICoreWebView2NewWindowRequestedEventHandler>(L"{d4c185fe-c81c-4989-97af-2d3fa7ab5651}");
    expect_iid<ICoreWebView2WebMessageReceivedEventArgs>(L"{0f99a40c-e962-4207-9e92-e3d542eff849}");
    expect_iid<ICoreWebView2NavigationStartingEventArgs>(L"{5b495469-e119-438a-9b18-7604f25f2e49}");
    expect_iid<ICoreWebView2NewWindowRequestedEventArgs>(L"{34acb11c-fc37-4418-9132-f9c21d1eafb9}");
    expect_iid<ICoreWebView2EnvironmentOptions>(L"{2fde08a8-1e9a-4766-8c05-95a9ceb9d1c5}");
    expect_iid<ICoreWebView2ProcessFailedEventHandler>(L"{79e0aea4-990b-42d9-aa1d-0fcc2e5bc7f1}");
    expect_iid<ICoreWebView2ProcessFailedEventArgs>(L"{8155a9a4-1474-4a86-8cae-151b0fa6b8ca}");
}

TEST(WebView2Abi, PlainTypesHaveThePublishedLayout) {
    EXPECT_EQ(sizeof(COREWEBVIEW2_COLOR), 4u);
    EXPECT_EQ(offsetof(COREWEBVIEW2_COLOR, A), 0u);
    EXPECT_EQ(offsetof(COREWEBVIEW2_COLOR, R), 1u);
    EXPECT_EQ(offsetof(COREWEBVIEW2_COLOR, G), 2u);
    EXPECT_EQ(offsetof(COREWEBVIEW2_COLOR, B), 3u);
    EXPECT_EQ(sizeof(EventRegistrationToken), 8u);
    EXPECT_EQ(sizeof(RECT), 16u);
    EXPECT_EQ(sizeof(BOOL), 4u);
    EXPECT_EQ(sizeof(COREWEBVIEW2_MOVE_FOCUS_REASON), 4u);
    EXPECT_EQ(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC, 0);
    EXPECT_EQ(sizeof(COREWEBVIEW2_PROCESS_FAILED_KIND), 4u);
    EXPECT_EQ(COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED, 0);
    EXPECT_EQ(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED, 1);
    EXPECT_EQ(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE, 2);
    EXPECT_EQ(COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED, 3);
    EXPECT_EQ(COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED, 6);
    EXPECT_EQ(COREWEBVIEW2_PROCESS_FAILED_KIND_UNKNOWN_PROCESS_EXITED, 9);
}

}  // namespace
