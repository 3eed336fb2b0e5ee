#include "fake_webview2.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <utility>

#include "webview2_stubs.h"

using Microsoft::WRL::ComPtr;

namespace fake_webview2 {

void World::note(const std::string& call) {
    record.calls.push_back(call);
    if (on_call) on_call(call);
}

namespace {

std::atomic<int> g_live_objects{0};

// Reference counting and QueryInterface for one fake: answers IUnknown and the interfaces of its
// chain that answers() accepts.
template <class Stub>
class Fake : public Stub {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(iid, __uuidof(IUnknown)) || answers(iid)) {
            *out = static_cast<Stub*>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    Fake() { ++g_live_objects; }
    virtual bool answers(REFIID iid) const = 0;
    virtual ~Fake() { --g_live_objects; }

private:
    std::atomic<ULONG> references_{1};
};

// MinGW's ComPtr::Attach takes a reference of its own: hand over the creation reference instead.
template <class T, class... Args>
ComPtr<T> make(Args&&... args) {
    T* created = new T(std::forward<Args>(args)...);
    ComPtr<T> object(created);
    created->Release();
    return object;
}

// ---- scheduling through a message-only window of this thread ----

constexpr UINT kRunWork = WM_APP + 0x2A;

// Work waiting for its timer, by timer id.
std::map<UINT_PTR, std::function<void()>>& timed_work() {
    thread_local std::map<UINT_PTR, std::function<void()>> work;
    return work;
}

LRESULT CALLBACK scheduler_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kRunWork) {
        std::unique_ptr<std::function<void()>> work(reinterpret_cast<std::function<void()>*>(lparam));
        (*work)();
        return 0;
    }
    if (message == WM_TIMER) {
        KillTimer(window, wparam);
        const auto found = timed_work().find(wparam);
        if (found == timed_work().end()) return 0;
        const std::function<void()> work = std::move(found->second);
        timed_work().erase(found);
        work();
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// The module this code is in: the stand-in runtime DLL, of which a process may load several
// copies (one per runtime folder a test registers), or the test program. Each registers the
// window class under its own module, so that its timers reach its own procedure and work.
HINSTANCE this_module() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&scheduler_procedure), &module);
    return module;
}

HWND scheduler_window() {
    thread_local HWND window = nullptr;
    if (window == nullptr) {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = scheduler_procedure;
        window_class.hInstance = this_module();
        window_class.lpszClassName = L"FakeWebView2Scheduler";
        RegisterClassW(&window_class);
        window = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 window_class.hInstance, nullptr);
    }
    return window;
}

// ---- the texts TryGetWebMessageAsString hands out, followed through the COM allocator ----

// Sees every CoTaskMemAlloc and CoTaskMemFree of the process; keeps the blocks allocated while
// `marking` is set on the allocating thread until they are freed. Allocates nothing extra, so
// every pointer passes through unchanged.
class MessageTextSpy final : public IMallocSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
            *out = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives as long as the process
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override {
        if (marking && block != nullptr) {
            const std::lock_guard lock(mutex_);
            outstanding_.insert(block);
        }
        return block;
    }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
        const std::lock_guard lock(mutex_);
        outstanding_.erase(block);
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** new_block, BOOL) override {
        *new_block = block;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
    void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

    int outstanding() {
        const std::lock_guard lock(mutex_);
        return static_cast<int>(outstanding_.size());
    }

    static thread_local bool marking;

private:
    std::mutex mutex_;
    std::set<void*> outstanding_;
};

thread_local bool MessageTextSpy::marking = false;

MessageTextSpy& message_text_spy() {
    static MessageTextSpy spy;
    return spy;
}

std::atomic<bool> g_spy_registered{false};

// ---- event arguments ----

class WebMessageArgs final : public Fake<WebMessageArgsStub> {
public:
    explicit WebMessageArgs(std::optional<std::wstring> text) : text_(std::move(text)) {}
    HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* out) override {
        if (out == nullptr) return E_POINTER;
        if (!text_) return E_INVALIDARG;  // what the runtime does for a non-string message
        const size_t bytes = (text_->size() + 1) * sizeof(wchar_t);
        MessageTextSpy::marking = true;
        *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        MessageTextSpy::marking = false;
        if (*out == nullptr) return E_OUTOFMEMORY;
        memcpy(*out, text_->c_str(), bytes);
        return S_OK;
    }

private:
    bool answers(REFIID iid) const override {
        return IsEqualIID(iid, __uuidof(ICoreWebView2WebMessageReceivedEventArgs));
    }
    std::optional<std::wstring> text_;
};

class NavigationArgs final : public Fake<NavigationArgsStub> {
public:
    HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* cancel) override {
        *cancel = cancel_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) override {
        cancel_ = cancel;
        return S_OK;
    }
    BOOL cancel() const { return cancel_; }

private:
    bool answers(REFIID iid) const override {
        return IsEqualIID(iid, __uuidof(ICoreWebView2NavigationStartingEventArgs));
    }
    BOOL cancel_ = FALSE;
};

class NewWindowArgs final : public Fake<NewWindowArgsStub> {
public:
    HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override {
        handled_ = handled;
        return S_OK;
    }
    BOOL handled() const { return handled_; }

private:
    bool answers(REFIID iid) const override {
        return IsEqualIID(iid, __uuidof(ICoreWebView2NewWindowRequestedEventArgs));
    }
    BOOL handled_ = FALSE;
};

class ProcessFailedArgs final : public Fake<ProcessFailedArgsStub> {
public:
    explicit ProcessFailedArgs(COREWEBVIEW2_PROCESS_FAILED_KIND kind) : kind_(kind) {}
    HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(COREWEBVIEW2_PROCESS_FAILED_KIND* kind) override {
        if (kind == nullptr) return E_POINTER;
        *kind = kind_;
        return S_OK;
    }

private:
    bool answers(REFIID iid) const override { return IsEqualIID(iid, __uuidof(ICoreWebView2ProcessFailedEventArgs)); }
    COREWEBVIEW2_PROCESS_FAILED_KIND kind_;
};

// Runs a completion when `delivery` says; `late_call` is noted when it comes after a delay.
void deliver(const std::shared_ptr<World>& world, Delivery delivery, std::function<void()> complete,
             const std::string& late_call) {
    switch (delivery) {
        case Delivery::BeforeReturning: complete(); break;
        case Delivery::Later: run_later(std::move(complete)); break;
        case Delivery::AfterDelay:
            run_after(world->behaviour.late_ms, [complete = std::move(complete), world, late_call] {
                world->note(late_call);
                complete();
            });
            break;
        case Delivery::Never: world->withheld.push_back(std::move(complete)); break;
    }
}

// Blocks the calling thread for `ms` (for ever with INFINITE), then notes that `call` returned.
void block(World& world, DWORD ms, const std::string& call) {
    if (ms == 0) return;
    Sleep(ms);
    world.note(call + " returned");
}

// ---- settings, web view, controller, environment ----

class Settings final : public Fake<SettingsStub> {
public:
    explicit Settings(std::shared_ptr<World> world) : world_(std::move(world)) {}
    HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL value) override {
        return set("put_IsStatusBarEnabled", value);
    }
    HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL value) override {
        return set("put_AreDevToolsEnabled", value);
    }
    HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL value) override {
        return set("put_AreDefaultContextMenusEnabled", value);
    }
    HRESULT STDMETHODCALLTYPE put_IsZoomControlEnabled(BOOL value) override {
        return set("put_IsZoomControlEnabled", value);
    }
    HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL value) override { return set("put_IsScriptEnabled", value); }
    HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL value) override {
        return set("put_IsWebMessageEnabled", value);
    }
    HRESULT STDMETHODCALLTYPE put_AreBrowserAcceleratorKeysEnabled(BOOL value) override {
        return set("put_AreBrowserAcceleratorKeysEnabled", value);
    }

private:
    HRESULT set(const std::string& name, BOOL value) {
        world_->record.settings[name] = value;
        world_->note(name);
        return world_->behaviour.setters;
    }
    bool answers(REFIID iid) const override {
        if (IsEqualIID(iid, __uuidof(ICoreWebView2Settings))) return true;
        return world_->behaviour.offer_settings3 &&
               (IsEqualIID(iid, __uuidof(ICoreWebView2Settings2)) || IsEqualIID(iid, __uuidof(ICoreWebView2Settings3)));
    }
    std::shared_ptr<World> world_;
};

class WebView final : public Fake<WebViewStub> {
public:
    explicit WebView(std::shared_ptr<World> world) : world_(std::move(world)) { world_->webview = this; }
    ~WebView() override {
        if (world_->webview == this) world_->webview = nullptr;
    }

    HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** out) override {
        world_->note("get_Settings");
        *out = nullptr;
        if (FAILED(world_->behaviour.settings)) return world_->behaviour.settings;
        if (world_->behaviour.settings_object) *out = make<Settings>(world_).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR html) override {
        world_->record.page = html;
        world_->note("NavigateToString");
        block(*world_, world_->behaviour.navigate_blocks_ms, "NavigateToString");
        if (FAILED(world_->behaviour.navigate)) return world_->behaviour.navigate;
        // The runtime raises NavigationStarting for the navigation this call starts, later.
        const std::shared_ptr<World> world = world_;
        run_later([world] {
            world->record.first_navigation_cancelled = start_navigation(*world, L"data:text/html;base64,");
            world->note("FirstNavigation");
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* handler,
                                                     EventRegistrationToken* token) override {
        world_->note("add_NavigationStarting");
        if (FAILED(world_->behaviour.add_navigation)) return world_->behaviour.add_navigation;
        world_->navigation_handler = handler;
        token->value = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR text) override {
        world_->record.posted.emplace_back(text);
        world_->note("PostWebMessageAsString");
        return world_->behaviour.post;
    }
    HRESULT STDMETHODCALLTYPE add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* handler,
                                                     EventRegistrationToken* token) override {
        world_->note("add_WebMessageReceived");
        if (FAILED(world_->behaviour.add_web_message)) return world_->behaviour.add_web_message;
        world_->web_message_handler = handler;
        token->value = 34;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_NewWindowRequested(ICoreWebView2NewWindowRequestedEventHandler* handler,
                                                     EventRegistrationToken* token) override {
        world_->note("add_NewWindowRequested");
        if (FAILED(world_->behaviour.add_new_window)) return world_->behaviour.add_new_window;
        world_->new_window_handler = handler;
        token->value = 44;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler* handler,
                                                EventRegistrationToken* token) override {
        world_->note("add_ProcessFailed");
        if (FAILED(world_->behaviour.add_process_failed)) return world_->behaviour.add_process_failed;
        world_->process_failed_handler = handler;
        token->value = 25;
        return S_OK;
    }

private:
    bool answers(REFIID iid) const override { return IsEqualIID(iid, __uuidof(ICoreWebView2)); }
    std::shared_ptr<World> world_;
};

class Controller final : public Fake<ControllerStub> {
public:
    Controller(std::shared_ptr<World> world, HWND parent) : world_(std::move(world)) { world_->record.parent = parent; }

    HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) override {
        world_->record.visible = visible;
        world_->note("put_IsVisible");
        return world_->behaviour.visible;
    }
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
        world_->record.bounds = bounds;
        world_->note("put_Bounds");
        if (!bounds_given_) block(*world_, world_->behaviour.first_bounds_blocks_ms, "put_Bounds");
        bounds_given_ = true;
        return world_->behaviour.bounds;
    }
    HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON reason) override {
        if (reason == COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC) ++world_->record.focus_moves;
        world_->note("MoveFocus");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        world_->note("Close");
        // As the runtime does: every registered handler is let go of.
        world_->web_message_handler.Reset();
        world_->navigation_handler.Reset();
        world_->new_window_handler.Reset();
        world_->process_failed_handler.Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** out) override {
        world_->note("get_CoreWebView2");
        *out = nullptr;
        if (FAILED(world_->behaviour.webview)) return world_->behaviour.webview;
        if (world_->behaviour.webview_object) {
            if (!webview_) webview_ = make<WebView>(world_);
            *out = webview_.Get();
            webview_->AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_DefaultBackgroundColor(COREWEBVIEW2_COLOR colour) override {
        world_->record.background = colour;
        world_->note("put_DefaultBackgroundColor");
        return world_->behaviour.background;
    }

private:
    bool answers(REFIID iid) const override {
        return IsEqualIID(iid, __uuidof(ICoreWebView2Controller)) ||
               (world_->behaviour.offer_controller2 && IsEqualIID(iid, __uuidof(ICoreWebView2Controller2)));
    }
    std::shared_ptr<World> world_;
    ComPtr<ICoreWebView2> webview_;
    bool bounds_given_ = false;
};

class Environment final : public Fake<EnvironmentStub> {
public:
    explicit Environment(std::shared_ptr<World> world) : world_(std::move(world)) {}

    HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
        HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) override {
        world_->note("CreateCoreWebView2Controller");
        block(*world_, world_->behaviour.controller_call_blocks_ms, "CreateCoreWebView2Controller");
        if (FAILED(world_->behaviour.controller_start)) return world_->behaviour.controller_start;
        ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> held(handler);
        const std::shared_ptr<World> world = world_;
        deliver(
            world_, world_->behaviour.controller_delivery,
            [world, held, parent] {
                ComPtr<ICoreWebView2Controller> controller;
                if (world->behaviour.controller_object) controller = make<Controller>(world, parent);
                held->Invoke(world->behaviour.controller_completion, controller.Get());
            },
            "LateControllerCompletion");
        return S_OK;
    }

private:
    bool answers(REFIID iid) const override {
        return world_->behaviour.environment_answers && IsEqualIID(iid, __uuidof(ICoreWebView2Environment));
    }
    std::shared_ptr<World> world_;
};

}  // namespace

int live_fake_objects() { return g_live_objects; }

void run_later(std::function<void()> work) {
    auto* posted = new std::function<void()>(std::move(work));
    if (!PostMessageW(scheduler_window(), kRunWork, 0, reinterpret_cast<LPARAM>(posted))) delete posted;
}

void run_after(UINT delay_ms, std::function<void()> work) {
    static UINT_PTR next_id = 1;
    const UINT_PTR id = next_id++;
    timed_work()[id] = std::move(work);
    SetTimer(scheduler_window(), id, delay_ms, nullptr);
}

HRESULT start_environment(const std::shared_ptr<World>& world, const wchar_t* user_data_folder,
                          ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    world->record.user_data_folder = user_data_folder != nullptr ? user_data_folder : L"";
    world->note("CreateEnvironment");
    block(*world, world->behaviour.entry_blocks_ms, "CreateEnvironment");
    const Behaviour& behaviour = world->behaviour;
    const bool first = std::count(world->record.calls.begin(), world->record.calls.end(), "CreateEnvironment") == 1;
    if (first && FAILED(behaviour.first_environment_start)) return behaviour.first_environment_start;
    if (FAILED(behaviour.environment_start)) return behaviour.environment_start;

    ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> held(handler);
    const std::wstring& refused = behaviour.refused_folder;
    const bool folder_refused = !refused.empty() && user_data_folder != nullptr &&
                                CompareStringOrdinal(
                                    user_data_folder,
                                    static_cast<int>(std::min(wcslen(user_data_folder), refused.size())),
                                    refused.c_str(), static_cast<int>(refused.size()), TRUE) == CSTR_EQUAL;
    const HRESULT code = folder_refused ? E_ACCESSDENIED
                         : first && FAILED(behaviour.first_environment_completion)
                             ? behaviour.first_environment_completion
                             : behaviour.environment_completion;
    auto complete = [world, held, code] {
        ComPtr<ICoreWebView2Environment> environment;
        if (world->behaviour.environment_object) environment = make<Environment>(world);
        held->Invoke(code, environment.Get());
    };
    deliver(world, behaviour.environment_delivery, std::move(complete), "LateEnvironmentCompletion");
    return S_OK;
}

HRESULT send_page_message(World& world, const std::optional<std::wstring>& text) {
    if (!world.web_message_handler || world.webview == nullptr) return E_UNEXPECTED;
    const ComPtr<ICoreWebView2WebMessageReceivedEventHandler> handler = world.web_message_handler;
    const ComPtr<ICoreWebView2> sender(world.webview);
    const auto args = make<WebMessageArgs>(text);
    return handler->Invoke(sender.Get(), args.Get());
}

HRESULT fail_process(World& world, COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
    if (!world.process_failed_handler || world.webview == nullptr) return E_UNEXPECTED;
    const ComPtr<ICoreWebView2ProcessFailedEventHandler> handler = world.process_failed_handler;
    const ComPtr<ICoreWebView2> sender(world.webview);
    const auto args = make<ProcessFailedArgs>(kind);
    return handler->Invoke(sender.Get(), args.Get());
}

void watch_message_texts() {
    if (g_spy_registered) return;
    g_spy_registered = SUCCEEDED(CoRegisterMallocSpy(&message_text_spy()));
}

int unfreed_message_texts() { return g_spy_registered ? message_text_spy().outstanding() : -1; }

bool start_navigation(World& world, const std::wstring&) {
    if (!world.navigation_handler || world.webview == nullptr) return false;
    const ComPtr<ICoreWebView2NavigationStartingEventHandler> handler = world.navigation_handler;
    const ComPtr<ICoreWebView2> sender(world.webview);
    const auto args = make<NavigationArgs>();
    handler->Invoke(sender.Get(), args.Get());
    return args->cancel() != FALSE;
}

bool request_new_window(World& world, const std::wstring&) {
    if (!world.new_window_handler || world.webview == nullptr) return false;
    const ComPtr<ICoreWebView2NewWindowRequestedEventHandler> handler = world.new_window_handler;
    const ComPtr<ICoreWebView2> sender(world.webview);
    const auto args = make<NewWindowArgs>();
    handler->Invoke(sender.Get(), args.Get());
    return args->handled() != FALSE;
}

}  // namespace fake_webview2
