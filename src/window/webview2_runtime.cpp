#include "webview2_runtime.h"

#include <utility>

#include "com_object.h"
#include "file_ops.h"
#include "grown_buffer.h"
#include "os_error.h"
#include "paths.h"
#include "win32_handles.h"
#include "window_handles.h"

// ---- From the registry value to the runtime's DLL: pure rules.

namespace {

std::optional<unsigned long> parse_number(std::wstring_view digits) {
    // Ten digits could overflow 32 bits; no real version part comes near that.
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    unsigned long value = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - L'0');
    }
    return value;
}

}  // namespace

std::optional<RuntimeVersion> parse_runtime_version(std::wstring_view text) {
    RuntimeVersion version{};
    for (std::size_t part = 0; part < version.size(); ++part) {
        const std::size_t dot = text.find(L'.');
        const bool last = part + 1 == version.size();
        if (last != (dot == std::wstring_view::npos)) return std::nullopt;
        const auto number = parse_number(text.substr(0, dot));
        if (!number) return std::nullopt;
        version[part] = *number;
        text = last ? std::wstring_view{} : text.substr(dot + 1);
    }
    return version;
}

bool runtime_version_at_least(const RuntimeVersion& version, const RuntimeVersion& floor) {
    for (std::size_t part = 0; part < version.size(); ++part) {
        if (version[part] != floor[part]) return version[part] > floor[part];
    }
    return true;
}

std::optional<std::wstring> runtime_dll_path(std::wstring_view registry_value) {
    // A relative or drive-relative value would be resolved against whatever the current folder
    // happens to be.
    const std::wstring_view folder = without_trailing_separators(registry_value);
    if (!is_absolute_path(folder)) return std::nullopt;

    const auto version = parse_runtime_version(last_component(folder));
    if (!version || !runtime_version_at_least(*version, kOldestUsableRuntime)) return std::nullopt;

    return join_path(join_path(join_path(folder, L"EBWebView"), L"x64"), L"EmbeddedBrowserWebView.dll");
}

// ---- Finding and starting the installed runtime.

// Loader-side overrides of the SDK loader (WEBVIEW2_BROWSER_EXECUTABLE_FOLDER,
// WEBVIEW2_USER_DATA_FOLDER, channel preferences and their policy keys) are deliberately not
// honoured: a setup program should not let its environment redirect it to another browser.

namespace {

// The runtime's entry point. The first parameter is a C++ bool, not a BOOL.
using CreateEnvironmentInternal = HRESULT(STDAPICALLTYPE*)(
    bool check_running_instance, int runtime_type, const wchar_t* user_data_folder, IUnknown* environment_options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

constexpr int kRuntimeTypeInstalled = 0;

// The WebView2 Runtime itself first, then the preview channels of the browser (developer
// machines). The stable browser is never a valid host for WebView2.
constexpr std::array<std::wstring_view, 4> kChannelKeys{
    L"Software\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}",
    L"Software\\Microsoft\\EdgeUpdate\\ClientState\\{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}",
    L"Software\\Microsoft\\EdgeUpdate\\ClientState\\{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}",
    L"Software\\Microsoft\\EdgeUpdate\\ClientState\\{65C35B14-6C1D-4122-AC46-7148CC9D6497}",
};

// The per-machine updater writes under the 32-bit view of HKLM\SOFTWARE; HKCU\Software is not
// redirected, so asking for the 32-bit view there changes nothing.
struct RegistryPlace {
    HKEY root;
    REGSAM view;
};
const std::array<RegistryPlace, 2> kPlaces{
    RegistryPlace{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
    RegistryPlace{HKEY_CURRENT_USER, KEY_WOW64_32KEY},
};

// The value may change between the size query and the read, so the read grows as it must.
std::optional<std::wstring> read_string_value(HKEY key, const wchar_t* name) {
    return read_grown_text([key, name](wchar_t* buffer, DWORD capacity) -> DWORD {
        DWORD bytes = capacity * static_cast<DWORD>(sizeof(wchar_t));
        const LSTATUS status = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, buffer, &bytes);
        // The size is in bytes, the terminator counted (the value may hold more than one).
        if (status == ERROR_MORE_DATA) return bytes / static_cast<DWORD>(sizeof(wchar_t)) + 1;
        if (status != ERROR_SUCCESS) return 0;
        return static_cast<DWORD>(wcsnlen(buffer, capacity));
    });
}

std::optional<std::wstring> registered_runtime_folder(const RegistryPlace& place, std::wstring_view channel_key) {
    UniqueRegistryKey key;
    const std::wstring key_name(channel_key);
    if (RegOpenKeyExW(place.root, key_name.c_str(), 0, KEY_QUERY_VALUE | place.view, key.put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return read_string_value(key.get(), L"EBWebView");
}

// A registered DLL counts only when it can be opened the way it will be loaded (read and
// execute, sharing only reading): a folder of that name, a file whose permissions refuse it, or
// one that another program holds open for writing or without read sharing (an update in
// progress, say) is passed over for the next place.
bool can_be_loaded(const std::wstring& path) {
    if (file_kind(path) != FileKind::File) return false;
    const UniqueFileHandle file(CreateFileW(path.c_str(), FILE_READ_DATA | FILE_EXECUTE, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

}  // namespace

std::optional<std::wstring> find_webview2_runtime() {
    for (std::wstring_view channel : kChannelKeys) {
        for (const RegistryPlace& place : kPlaces) {
            const auto folder = registered_runtime_folder(place, channel);
            if (!folder) continue;
            auto dll = runtime_dll_path(*folder);
            if (dll && can_be_loaded(*dll)) return dll;
        }
    }
    return std::nullopt;
}

namespace {

// One start of the runtime, from a fresh look-up: the registered runtime may have been updated
// or removed since the last one.
HRESULT start_runtime(const wchar_t* user_data_folder,
                      ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    const auto dll_path = find_webview2_runtime();
    if (!dll_path) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

    // By full path, and its own dependencies only from its folder and the system folder: never
    // from the folder the setup was started from (usually Downloads).
    UniqueModule runtime(
        LoadLibraryExW(dll_path->c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!runtime) return last_error_as_hresult();

    const auto create = reinterpret_cast<CreateEnvironmentInternal>(
        reinterpret_cast<void*>(GetProcAddress(runtime.get(), "CreateWebViewEnvironmentWithOptionsInternal")));
    // The error is read before the module is let go of.
    if (create == nullptr) return last_error_as_hresult();
    // The runtime stays loaded for the life of the process: its objects and the callbacks it
    // schedules live in it.
    runtime.release();
    return create(true, kRuntimeTypeInstalled, user_data_folder, nullptr, handler);
}

// Stands between the runtime and the caller's handler, as the SDK's loader does: a failed
// completion starts the runtime once more (unless a start has already been retried, or the
// caller no longer waits), and a delivered environment reaches the caller only once it has
// answered for ICoreWebView2Environment.
class RetryingEnvironmentHandler final
    : public ComObject<RetryingEnvironmentHandler, ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> {
public:
    RetryingEnvironmentHandler(const wchar_t* user_data_folder,
                               ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* caller,
                               StillWaited still_waited)
        : user_data_folder_(user_data_folder != nullptr ? user_data_folder : L""),
          has_folder_(user_data_folder != nullptr), caller_(caller), still_waited_(std::move(still_waited)) {}

    // The one start after a failure; false when it was already used or no one waits any more.
    bool take_retry() { return still_waited_ && still_waited_() && !std::exchange(retried_, true); }
    HRESULT start() { return start_runtime(has_folder_ ? user_data_folder_.c_str() : nullptr, this); }

    HRESULT STDMETHODCALLTYPE Invoke(HRESULT result, ICoreWebView2Environment* created) override {
        if (FAILED(result) && take_retry()) {
            const HRESULT started = start();
            if (SUCCEEDED(started)) return S_OK;  // the second start's completion decides
            result = started;
        }
        if (FAILED(result) || created == nullptr) return caller_->Invoke(result, nullptr);
        Microsoft::WRL::ComPtr<ICoreWebView2Environment> environment;
        const HRESULT queried = created->QueryInterface(IID_PPV_ARGS(&environment));
        if (FAILED(queried)) return caller_->Invoke(queried, nullptr);
        if (!environment) return caller_->Invoke(E_NOINTERFACE, nullptr);
        return caller_->Invoke(result, environment.Get());
    }

private:
    std::wstring user_data_folder_;
    bool has_folder_;
    bool retried_ = false;
    Microsoft::WRL::ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> caller_;
    StillWaited still_waited_;
};

}  // namespace

HRESULT create_webview2_environment(const wchar_t* user_data_folder,
                                    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler,
                                    StillWaited still_waited) {
    if (handler == nullptr) return E_POINTER;
    const auto wrapper = make_com_object<RetryingEnvironmentHandler>(user_data_folder, handler,
                                                                     std::move(still_waited));
    if (!wrapper) return E_OUTOFMEMORY;
    // A start that fails at once is tried once more, after a fresh look-up.
    HRESULT started = wrapper->start();
    if (FAILED(started) && wrapper->take_retry()) started = wrapper->start();
    return started;
}
